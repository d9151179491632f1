#pragma once

#include <functional>

#include <QObject>
#include <QString>
#include <QStringList>

// The most-recently-used file list of the document, kept in the profile (section "Recent
// File List", "File1" .. "File4"), most recent first.
class CRecentFileList
{
public:
    static constexpr int kSize = 4;

    // Reads the list from the profile (empty entries are skipped).
    void Load();
    // Puts the absolute path first (moving it up when already listed; at most kSize entries)
    // and writes the list to the profile.
    void Add(const QString& path);
    // Drops path from the list and writes it.
    void Remove(const QString& path);
    // Entry i, or an empty string.
    QString At(int i) const { return i >= 0 && i < m_files.size() ? m_files[i] : QString(); }
    QStringList Files() const { return m_files; }

private:
    void Store() const;

    QStringList m_files;
};

// Our small document framework: path, title, modified flag, the New / Open / Save /
// Save As entry points with the overridable steps, the save prompt and the recent-file
// list. A window or the headless program drives it; prompts are functions it installs.
class CDocument : public QObject
{
    Q_OBJECT

public:
    // Answer of the save prompt.
    enum class SaveAnswer
    {
        Save,
        Discard,
        Cancel
    };

    explicit CDocument(QObject* parent = nullptr);
    ~CDocument() override;

    QString GetPathName() const { return m_pathName; }
    // Sets the path and takes the file name as title; adds the path to the recent list.
    void SetPathName(const QString& path, bool addToRecent = true);
    QString GetTitle() const { return m_title; }
    // Sets the title (titleChanged follows when it differs).
    void SetTitle(const QString& title);
    bool IsModified() const { return m_modified; }
    void SetModifiedFlag(bool modified) { m_modified = modified; }
    CRecentFileList& RecentFiles() { return m_recent; }

    // Asks whether to save a modified document (nothing installed: Discard).
    void SetSavePrompt(std::function<SaveAnswer(const QString& title)> prompt);
    // Asks for a file name to save to (empty: cancelled). Nothing installed: cancelled.
    void SetFileNamePrompt(std::function<QString(const QString& suggestedPath)> prompt);

    // File New: save prompt, then OnNewDocument. Returns false when cancelled or failed.
    bool NewDocument();
    // File Open (and recent files): save prompt, then OnOpenDocument and SetPathName.
    // Returns false when cancelled or the file could not be opened.
    bool OpenDocument(const QString& path);
    // File Save: DoFileSave. Returns false when cancelled or the write failed.
    bool Save() { return DoFileSave(); }
    // File Save As with a chosen path (empty: ask through the file-name prompt). The
    // document takes the new path and title. Returns false when cancelled or failed.
    bool SaveAs(const QString& path = QString());
    // The save prompt for a modified document: true when the caller may go on.
    bool SaveModified();

    // Empties the document (base: clears the modified flag).
    virtual void DeleteContents();
    // Base: DeleteContents, no path, title "Untitled", not modified. Returns true.
    virtual bool OnNewDocument();
    // Base: checks that the file can be read, then DeleteContents. Returns false when the
    // file cannot be opened (the document is then left as it was).
    virtual bool OnOpenDocument(const QString& path);
    // Writes the document to path. Base: clears the modified flag, returns true.
    virtual bool OnSaveDocument(const QString& path);
    // Saves under the current path, asking for one when there is none.
    virtual bool DoFileSave();

signals:
    void titleChanged(const QString& title);
    // Tells the views what changed (hint 1061: the document is being emptied).
    void viewsUpdate(int hint);
    // Start and end of a long operation (the wait cursor of a window).
    void busy(bool on);

protected:
    // Save to path (empty: ask); replace: the document takes the path afterwards.
    bool DoSave(const QString& path, bool replace);
    void UpdateAllViews(int hint) { emit viewsUpdate(hint); }

private:
    QString m_pathName;
    QString m_title;
    bool m_modified = false;
    CRecentFileList m_recent;
    std::function<SaveAnswer(const QString&)> m_savePrompt;
    std::function<QString(const QString&)> m_fileNamePrompt;
};
