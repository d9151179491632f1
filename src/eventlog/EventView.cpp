#include "eventlog/EventView.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QStyle>
#include <QStyledItemDelegate>

#include "eventlog/EventSink.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

namespace {

constexpr int kImageSize = 16;

// Puts the line's image into the Date column; the model only says which one.
class CEventLineDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() != CEventListModel::ColumnDate) {
            return;
        }
        static const QIcon info = CEventView::InformationIcon();
        static const QIcon error = CEventView::ErrorIcon();
        option->icon = index.data(CEventListModel::ImageIndexRole).toInt() == 0 ? info : error;
        option->decorationSize = QSize(kImageSize, kImageSize);
        option->features |= QStyleOptionViewItem::HasDecoration;
    }
};

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback)
{
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(name));
    if (!themed.isNull()) {
        return themed;
    }
    return QApplication::style()->standardIcon(fallback);
}

} // namespace

CEventView::CEventView(const QString& runLogFolder, QWidget* parent)
    : QTableView(parent), m_runLogFolder(runLogFolder)
{
    RegisterEventStore(&m_store);
    m_model.LoadSettings();
    setModel(&m_model);
    setItemDelegate(new CEventLineDelegate(this));
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setIconSize(QSize(kImageSize, kImageSize));
    setContextMenuPolicy(Qt::DefaultContextMenu);
    // Fixed row heights keep a full list cheap: no row is measured, only the visible ones
    // are painted.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    const std::array<int, 3> widths = CEventListModel::ColumnWidths();
    for (int i = 0; i < 3; ++i) {
        setColumnWidth(i, widths[static_cast<std::size_t>(i)]);
    }

    const auto make = [this](Command command, auto handler) {
        auto* action = new QAction(this);
        action->setData(static_cast<int>(command));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    m_actions = {
        make(CommandClearMessages, [this] { m_model.ClearMessages(); }),
        make(CommandErrorsOnly,
             [this] { Action(CommandErrorsOnly)->setChecked(m_model.ToggleErrorsOnly()); }),
        make(CommandSaveLog, [this] { SaveLogAs(); }),
        make(CommandCopy, [this] { CopySelection(); })};
    Action(CommandErrorsOnly)->setCheckable(true);
    // A new line is scrolled into view.
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, [this] { scrollToBottom(); });
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, &CEventView::UpdateCommandStates);
    connect(&m_model, &QAbstractItemModel::modelReset, this, &CEventView::UpdateCommandStates);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CEventView::UpdateCommandStates);
    UpdateCommandStates();
    m_model.StartTimer();
}

CEventView::~CEventView()
{
    m_model.StopTimer();
    // Whatever was posted up to now belongs to this run's log.
    UnregisterEventStore(&m_store);
    Flush();
    if (!m_runLogFolder.isEmpty()) {
        m_model.WriteRunLog(m_runLogFolder);
    }
    CEventListModel::SaveColumnWidths({columnWidth(0), columnWidth(1), columnWidth(2)});
    m_model.SaveSettings();
}

void CEventView::RefreshHeaders()
{
    m_model.RefreshHeaders();
    const std::array<int, 3> widths = CEventListModel::ColumnWidths(true);
    for (int i = 0; i < 3; ++i) {
        setColumnWidth(i, widths[static_cast<std::size_t>(i)]);
    }
}

QAction* CEventView::Action(Command command) const
{
    for (QAction* action : m_actions) {
        if (action->data().toInt() == command) {
            return action;
        }
    }
    return nullptr;
}

void CEventView::Flush()
{
    m_model.TimerStep();
}

void CEventView::UpdateCommandStates()
{
    const bool lines = m_model.HasLines();
    Action(CommandClearMessages)->setEnabled(lines);
    Action(CommandSaveLog)->setEnabled(lines);
    Action(CommandCopy)->setEnabled(selectionModel()->hasSelection());
    Action(CommandErrorsOnly)->setChecked(m_model.IsErrorsOnly());
}

QMenu* CEventView::BuildContextMenu()
{
    UpdateCommandStates();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const bool lines = m_model.HasLines();
    if (lines) {
        menu->addAction(Action(CommandClearMessages));
    }
    menu->addAction(Action(CommandErrorsOnly));
    if (lines) {
        menu->addSeparator();
        menu->addAction(Action(CommandSaveLog));
        menu->addAction(Action(CommandCopy));
    }
    return menu;
}

void CEventView::ShowContextMenuAt(const QPoint& viewportPos)
{
    BuildContextMenu()->popup(viewport()->mapToGlobal(viewportPos));
}

void CEventView::contextMenuEvent(QContextMenuEvent* event)
{
    if (event->reason() == QContextMenuEvent::Keyboard) {
        QTableView::contextMenuEvent(event);
        return;
    }
    ShowContextMenuAt(viewport()->mapFromGlobal(event->globalPos()));
}

void CEventView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Tab) {
        return; // consumed without effect
    }
    if (event->key() == Qt::Key_Space) {
        const QModelIndexList rows = selectionModel()->selectedRows();
        if (rows.isEmpty()) {
            ShowContextMenuAt(viewport()->rect().center());
            return;
        }
        QModelIndex first = rows.first();
        for (const QModelIndex& row : rows) {
            if (row.row() < first.row()) {
                first = row;
            }
        }
        scrollTo(first);
        const QRect line = visualRect(first).united(visualRect(first.siblingAtColumn(2)));
        ShowContextMenuAt(line.center());
        return;
    }
    QTableView::keyPressEvent(event);
}

void CEventView::CopySelection()
{
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    const QString text = m_model.CopyText(rows);
    if (!rows.isEmpty()) {
        QApplication::clipboard()->setText(text);
    }
}

void CEventView::SaveLogAs()
{
    if (!m_model.HasLines()) {
        return;
    }
    QFileDialog dialog(this, QStringLiteral("Save Log"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("log"));
    dialog.setNameFilters({QStringLiteral("Log Files (*.log)"), QStringLiteral("All files (*)")});
    dialog.selectFile(LoadString(kIdsFrameTitle));
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    m_model.SaveLog(dialog.selectedFiles().first());
}

QIcon CEventView::InformationIcon()
{
    return ThemeIcon("dialog-information", QStyle::SP_MessageBoxInformation);
}

QIcon CEventView::ErrorIcon()
{
    return ThemeIcon("dialog-error", QStyle::SP_MessageBoxCritical);
}
