#pragma once

#include <QString>

#include "settings/Document.h"

class ISettingsTarget;

// The settings document: a "*.znr" XML file with the modem port, the voice switch, the
// sender mailbox and password, and the recipient list. Loading copies the file into the
// target (the application) and saving writes the target back; the document holds no data
// of its own. One CDoc exists at a time; dialogs reach it through Instance().
class CDoc : public CDocument
{
    Q_OBJECT

public:
    // Update hint sent to the views before the recipients are deleted.
    static constexpr int kHintDeleteContents = 1061;
    // What the start-up found: the path it chose (empty: a new document) and whether that
    // file was opened.
    struct StartupResult
    {
        QString path;
        bool opened = false;
    };

    explicit CDoc(ISettingsTarget& target, QObject* parent = nullptr);
    ~CDoc() override;

    // The one settings document, or null.
    static CDoc* Instance();

    // Adds " *" to the title (once) or takes it off, and sets the modified flag.
    void SetModifiedMark(bool modified);

    // Copies the file into the target; the recipients are replaced in one step. Returns
    // false, leaving every setting and the recipients as they were, when the file cannot
    // be read, is not well-formed XML or has no SMS root element (the engine's report goes
    // to the zunaro.settings debug category).
    bool LoadSettings(const QString& path);
    // Builds the settings text from the target (see BuildSettings) and writes it to path
    // through a temporary file. Returns false when the file could not be written; the old
    // file is then unchanged.
    bool SaveSettings(const QString& path);
    // The text of the settings file for the target's values, as SaveSettings writes it
    // (UTF-16; the file is UTF-8 with a byte order mark).
    QString BuildSettings() const;

    // The settings file to open at start-up: commandLineFile when given; else the first
    // recent file when it exists; else the first "*.znr" of the data folder (by name);
    // else empty (a new document).
    static QString ChooseStartupFile(const QString& commandLineFile = QString());
    // Opens the start-up choice, or a new document when there is none. A chosen file that
    // cannot be opened or used leaves a new, empty document (opened = false).
    StartupResult OpenAtStartup(const QString& commandLineFile = QString());

    void DeleteContents() override;
    bool OnNewDocument() override;
    // Loads the file (LoadSettings). An unreadable file leaves the document as it was; an
    // unusable one leaves a new, empty document. Returns false in both cases.
    bool OnOpenDocument(const QString& path) override;
    // Writes the file; on success the modified mark goes. Returns false on a failed write.
    bool OnSaveDocument(const QString& path) override;
    // Clears the modified mark and saves; a failed or cancelled save puts the mark back.
    bool DoFileSave() override;

private:
    ISettingsTarget& m_target;
    // Set while OnOpenDocument empties the document: the recipients are left to the load.
    bool m_loading = false;
};
