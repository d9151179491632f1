#pragma once

#include <functional>
#include <map>

#include <QDialog>

#include "recipients/UserListModel.h"

class CUserList;
class QMenu;
class QTableView;

// The User List dialog: every recipient in a list (ID, User, Telephone, E-Mail) that fills
// the dialog, sorted by a click on a column header, with a context menu for New, Delete,
// Properties, CSV export and import and copying a number or an address. It is filled from the
// recipient list each time it is shown and emptied when hidden. Every change of the list
// calls markModified (the settings document's " *"); an import calls it only when it added or
// changed recipients.
class CDlgUserList : public QDialog
{
    Q_OBJECT

public:
    enum Command
    {
        CommandExportCsv = 32814,
        CommandImportCsv = 32815,
        CommandCopyTelephone = 32816,
        CommandCopyMail = 32817,
        CommandNew = 32839,
        CommandDelete = 32840,
        CommandProperties = 32841,
    };

    // users must outlive the dialog.
    CDlgUserList(CUserList& users, std::function<void()> markModified, QWidget* parent = nullptr);
    ~CDlgUserList() override;

    QTableView* List() const { return m_list; }
    CUserListModel& Model() { return m_model; }
    // The action of a context menu command.
    QAction* Action(Command command) const;
    // The context menu with its commands enabled for the current list and selection.
    QMenu* BuildContextMenu();

    // Empties the rows and shows every user of the list, head to tail.
    void Fill();
    // A click on column's header: the same column again reverses the order, another column
    // becomes the sort column in the current direction.
    void SortBy(int column);
    int SortColumn() const { return m_sortColumn; }
    bool SortDescending() const { return m_descending; }

    // The commands.
    void NewUser();
    void DeleteSelected();
    void ShowProperties();
    void ExportCsv();
    void ImportCsv();
    void CopyTelephone();
    void CopyMail();
    // Writes the rows in the order shown to path. Returns false (after a message) on failure.
    bool ExportTo(const QString& path);
    // Reads path into the list and shows the new users. Returns false (after a message) when
    // the file was not read.
    bool ImportFrom(const QString& path);

protected:
    // Passes the commands' prompts to the window below, whose status bar shows them.
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QAction* MakeAction(Command command, unsigned textId, unsigned promptId,
                        const QKeySequence& shortcut, void (CDlgUserList::*slot)());
    void UpdateCommandStates();
    CUser* FirstSelected() const;
    QString AskCsvPath(bool save);

    CUserList& m_users;
    std::function<void()> m_markModified;
    CUserListModel m_model;
    QTableView* m_list = nullptr;
    std::map<Command, QAction*> m_actions;
    int m_sortColumn = 0;
    bool m_descending = false;
};
