#include "recipients/UserListModel.h"

#include <algorithm>
#include <numeric>

#include <QCollator>
#include <QPainter>
#include <QPixmap>

#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "recipients/User.h"

namespace {

const QString* FieldOf(const CUser& user, int column)
{
    switch (column) {
    case CUserListModel::ColumnName:
        return &user.Name;
    case CUserListModel::ColumnTelephone:
        return &user.Telephone;
    case CUserListModel::ColumnMail:
        return &user.Mail;
    default:
        return nullptr;
    }
}

} // namespace

CUserListModel::CUserListModel(QObject* parent) : QAbstractTableModel(parent) {}

int CUserListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CUserListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CUserListModel::data(const QModelIndex& index, int role) const
{
    const CUser* user = UserAt(index.row());
    if (user == nullptr) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        if (index.column() == ColumnId) {
            return QString::number(index.row() + 1);
        }
        const QString* field = FieldOf(*user, index.column());
        return field ? QVariant(*field) : QVariant();
    }
    if (role == Qt::DecorationRole && index.column() == ColumnId) {
        return UserIcon();
    }
    return {};
}

QVariant CUserListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case ColumnId:
        return LoadString(kIdsColumnId);
    case ColumnName:
        return LoadString(kIdsColumnUser);
    case ColumnTelephone:
        return LoadString(kIdsColumnTelephone);
    case ColumnMail:
        return LoadString(kIdsColumnMail);
    default:
        return {};
    }
}

void CUserListModel::SetRows(std::vector<CUser*> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int CUserListModel::AppendRows(const std::vector<CUser*>& rows)
{
    const int first = int(m_rows.size());
    if (!rows.empty()) {
        beginInsertRows(QModelIndex(), first, first + int(rows.size()) - 1);
        m_rows.insert(m_rows.end(), rows.begin(), rows.end());
        endInsertRows();
    }
    return first;
}

CUser* CUserListModel::UserAt(int row) const
{
    return row >= 0 && row < int(m_rows.size()) ? m_rows[std::size_t(row)] : nullptr;
}

void CUserListModel::RefreshAll()
{
    if (!m_rows.empty()) {
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, ColumnCount - 1));
    }
}

void CUserListModel::Sort(int column, bool descending)
{
    if (column < ColumnName || column > ColumnMail || m_rows.size() < 2) {
        return; // the ID column compares every pair as equal
    }
    // One collation key per row instead of two collations per comparison.
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseSensitive);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(m_rows.size());
    for (const CUser* user : m_rows) {
        keys.push_back(collator.sortKey(*FieldOf(*user, column)));
    }
    std::vector<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys, descending](int a, int b) {
        const int c = keys[std::size_t(a)].compare(keys[std::size_t(b)]);
        return descending ? c > 0 : c < 0;
    });

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(m_rows.size());
    std::vector<CUser*> sorted(m_rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        sorted[i] = m_rows[std::size_t(order[i])];
        newRowOf[std::size_t(order[i])] = int(i);
    }
    m_rows = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before) {
        after << index(newRowOf[std::size_t(old.row())], old.column());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QIcon CUserListModel::UserIcon()
{
    static const QIcon icon = [] {
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2f, 0x6f, 0xb5));
        painter.drawEllipse(QRectF(10, 3, 12, 12));
        painter.drawRoundedRect(QRectF(5, 17, 22, 13), 6, 6);
        return QIcon(pixmap);
    }();
    return icon;
}
