#include "recipients/DlgUserList.h"

#include <tuple>
#include <utility>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QShortcut>
#include <QShowEvent>
#include <QTableView>
#include <QVBoxLayout>

#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "recipients/DlgUser.h"
#include "recipients/User.h"
#include "recipients/UserCsv.h"
#include "recipients/UserList.h"

namespace {

// The wait cursor for as long as it lives.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// "CSV Files (*.csv)|*.csv|" (description|pattern|...) as a file dialog filter.
QString FileDialogFilter(const QString& table)
{
    const QStringList parts = table.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        if (!parts[i].isEmpty()) {
            filters << parts[i];
        }
    }
    return filters.join(QStringLiteral(";;"));
}

constexpr int kColumnWidths[CUserListModel::ColumnCount] = {60, 150, 120, 200};

} // namespace

CDlgUserList::CDlgUserList(CUserList& users, std::function<void()> markModified, QWidget* parent)
    : QDialog(parent), m_users(users), m_markModified(std::move(markModified))
{
    setWindowTitle(LoadString(kIdsUserListTitle));
    setSizeGripEnabled(true);

    m_list = new QTableView(this);
    m_list->setModel(&m_model);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setShowGrid(true);
    m_list->setWordWrap(false);
    m_list->setMouseTracking(true);
    m_list->setTabKeyNavigation(false);
    m_list->verticalHeader()->hide();
    // Fixed row heights keep scrolling through ten thousand rows as cheap as through ten.
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
    QHeaderView* header = m_list->horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(true);
    for (int c = 0; c < CUserListModel::ColumnCount; ++c) {
        m_list->setColumnWidth(c, kColumnWidths[c]);
    }
    connect(header, &QHeaderView::sectionClicked, this, &CDlgUserList::SortBy);
    connect(m_list, &QAbstractItemView::doubleClicked, this, &CDlgUserList::ShowProperties);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* enter =
            new QShortcut(QKeySequence(key), m_list, nullptr, nullptr, Qt::WidgetShortcut);
        connect(enter, &QShortcut::activated, this, &CDlgUserList::ShowProperties);
    }
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        BuildContextMenu()->popup(m_list->viewport()->mapToGlobal(pos));
    });

    MakeAction(CommandNew, kIdsMenuNewUser, kIdsPromptNewUser, QKeySequence(Qt::Key_Insert),
               &CDlgUserList::NewUser);
    MakeAction(CommandDelete, kIdsMenuDeleteUser, kIdsPromptDeleteUser,
               QKeySequence(QKeySequence::Delete), &CDlgUserList::DeleteSelected);
    MakeAction(CommandProperties, kIdsMenuProperties, kIdsPromptProperties,
               QKeySequence(Qt::ALT | Qt::Key_Return), &CDlgUserList::ShowProperties);
    MakeAction(CommandExportCsv, kIdsMenuExportCsv, kIdsPromptExportCsv, {},
               &CDlgUserList::ExportCsv);
    MakeAction(CommandImportCsv, kIdsMenuImportCsv, kIdsPromptImportCsv, {},
               &CDlgUserList::ImportCsv);
    MakeAction(CommandCopyTelephone, kIdsMenuCopyTelephone, kIdsPromptCopyTelephone,
               QKeySequence(QKeySequence::Copy), &CDlgUserList::CopyTelephone);
    MakeAction(CommandCopyMail, kIdsMenuCopyMail, kIdsPromptCopyMail, {}, &CDlgUserList::CopyMail);
    connect(&m_model, &QAbstractItemModel::modelReset, this, &CDlgUserList::UpdateCommandStates);
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, &CDlgUserList::UpdateCommandStates);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CDlgUserList::UpdateCommandStates);
    UpdateCommandStates();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
    int width = 0;
    for (const int w : kColumnWidths) {
        width += w;
    }
    resize(width + 2 * m_list->frameWidth() + 24, 320);
}

CDlgUserList::~CDlgUserList() = default;

QAction* CDlgUserList::MakeAction(Command command, unsigned textId, unsigned promptId,
                                  const QKeySequence& shortcut, void (CDlgUserList::*slot)())
{
    auto* action = new QAction(LoadString(textId), this);
    // The prompt's first line is the status text; a second line is a tooltip.
    action->setStatusTip(LoadString(promptId).section(u'\n', 0, 0));
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(action, &QAction::triggered, this, slot);
    addAction(action);
    m_actions[command] = action;
    return action;
}

QAction* CDlgUserList::Action(Command command) const
{
    const auto it = m_actions.find(command);
    return it == m_actions.end() ? nullptr : it->second;
}

void CDlgUserList::UpdateCommandStates()
{
    const bool selected = FirstSelected() != nullptr;
    for (const Command c :
         {CommandDelete, CommandProperties, CommandCopyTelephone, CommandCopyMail}) {
        Action(c)->setEnabled(selected);
    }
    Action(CommandExportCsv)->setEnabled(m_model.rowCount() > 0);
}

QMenu* CDlgUserList::BuildContextMenu()
{
    UpdateCommandStates();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(Action(CommandNew));
    menu->addAction(Action(CommandDelete));
    menu->addAction(Action(CommandProperties));
    menu->addSeparator();
    menu->addAction(Action(CommandExportCsv));
    menu->addAction(Action(CommandImportCsv));
    menu->addSeparator();
    menu->addAction(Action(CommandCopyTelephone));
    menu->addAction(Action(CommandCopyMail));
    return menu;
}

bool CDlgUserList::event(QEvent* event)
{
    if (event->type() == QEvent::StatusTip && parentWidget() != nullptr) {
        return QApplication::sendEvent(parentWidget()->window(), event);
    }
    return QDialog::event(event);
}

void CDlgUserList::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        Fill();
        m_list->setFocus();
    }
    QDialog::showEvent(event);
}

void CDlgUserList::hideEvent(QHideEvent* event)
{
    // The rows point into the recipient list, which may change (a file is opened) while the
    // dialog is closed.
    if (!event->spontaneous()) {
        m_model.SetRows({});
    }
    QDialog::hideEvent(event);
}

void CDlgUserList::Fill()
{
    std::vector<CUser*> rows;
    rows.reserve(std::size_t(m_users.GetCount()));
    m_users.ForEach([&rows](CUser& user) { rows.push_back(&user); });
    m_model.SetRows(std::move(rows));
    // The rows are in list order now; the next header click sorts them again.
    m_list->horizontalHeader()->setSortIndicatorShown(false);
}

void CDlgUserList::SortBy(int column)
{
    if (column == m_sortColumn) {
        m_descending = !m_descending;
    } else {
        m_sortColumn = column;
    }
    WaitCursor wait;
    m_model.Sort(m_sortColumn, m_descending);
    QHeaderView* header = m_list->horizontalHeader();
    header->setSortIndicatorShown(m_sortColumn != CUserListModel::ColumnId);
    header->setSortIndicator(m_sortColumn, m_descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

CUser* CDlgUserList::FirstSelected() const
{
    QModelIndexList rows = m_list->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return nullptr;
    }
    std::sort(rows.begin(), rows.end());
    return m_model.UserAt(rows.front().row());
}

void CDlgUserList::NewUser()
{
    CDlgUser dialog(m_users, this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    std::unique_ptr<CUser> user = dialog.TakeNewUser();
    CUser* added = user.get();
    if (!m_users.Add(std::move(user))) {
        return;
    }
    const int row = m_model.AppendRows({added});
    m_list->scrollTo(m_model.index(row, 0));
    m_list->selectionModel()->setCurrentIndex(
        m_model.index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_markModified();
}

void CDlgUserList::DeleteSelected()
{
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return;
    }
    WaitCursor wait;
    std::vector<CUser*> doomed;
    doomed.reserve(std::size_t(rows.size()));
    for (const QModelIndex& row : rows) {
        doomed.push_back(m_model.UserAt(row.row()));
    }
    // Empty the rows first: no row may point at a deleted user, not even for a repaint.
    m_model.SetRows({});
    for (CUser* user : doomed) {
        m_users.Remove(user);
    }
    Fill();
    m_markModified();
}

void CDlgUserList::ShowProperties()
{
    CUser* user = FirstSelected();
    if (user == nullptr) {
        return;
    }
    CDlgUser dialog(m_users, user, this);
    if (dialog.exec() == QDialog::Accepted) {
        m_model.RefreshAll();
        m_markModified();
    }
}

void CDlgUserList::CopyTelephone()
{
    if (const CUser* user = FirstSelected()) {
        QApplication::clipboard()->setText(user->Telephone);
    }
}

void CDlgUserList::CopyMail()
{
    if (const CUser* user = FirstSelected()) {
        QApplication::clipboard()->setText(user->Mail);
    }
}

QString CDlgUserList::AskCsvPath(bool save)
{
    QFileDialog dialog(this, LoadString(save ? kIdsCsvExportTitle : kIdsCsvImportTitle),
                       GetProfileString(kProfilePathsOpenFile),
                       FileDialogFilter(LoadString(kIdsCsvFilter)));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (save) {
        dialog.selectFile(QStringLiteral("UserList"));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

void CDlgUserList::ExportCsv()
{
    const QString path = AskCsvPath(true);
    if (!path.isEmpty()) {
        ExportTo(path);
    }
}

void CDlgUserList::ImportCsv()
{
    const QString path = AskCsvPath(false);
    if (!path.isEmpty()) {
        ImportFrom(path);
    }
}

bool CDlgUserList::ExportTo(const QString& path)
{
    bool written = false;
    {
        WaitCursor wait;
        const std::vector<CUser*>& rows = m_model.Rows();
        written = ExportUsersCsv(std::vector<const CUser*>(rows.begin(), rows.end()), path);
    }
    if (!written) {
        ShowUserMessage(
            this, FormatText(LoadString(kIdsCsvExportFailed), {QDir::toNativeSeparators(path)}));
    }
    return written;
}

bool CDlgUserList::ImportFrom(const QString& path)
{
    CsvImportResult result;
    bool changed = false;
    {
        WaitCursor wait;
        // What each user had before, to tell whether the import changed anything.
        std::vector<std::tuple<const CUser*, QString, QString>> before;
        before.reserve(std::size_t(m_users.GetCount()));
        m_users.ForEach([&before](CUser& u) { before.emplace_back(&u, u.Telephone, u.Mail); });
        result = ImportUsersCsv(m_users, path);
        changed = !result.added.empty();
        for (const auto& [user, telephone, mail] : before) {
            changed = changed || user->Telephone != telephone || user->Mail != mail;
        }
        if (!result.added.empty()) {
            const int first = m_model.AppendRows(result.added);
            m_list->scrollTo(m_model.index(first, 0));
        }
        m_model.RefreshAll();
    }
    if (!result.read) {
        ShowUserMessage(
            this, FormatText(LoadString(kIdsCsvImportFailed), {QDir::toNativeSeparators(path)}));
        return false;
    }
    // Unlike the dialogs' edits, nothing else would mark an import: without it the new
    // recipients would be lost at exit without the question to save.
    if (changed) {
        m_markModified();
    }
    return true;
}
