#include "eventlog/EventListModel.h"

#include <algorithm>
#include <iterator>
#include <mutex>

#include "eventlog/EventLogFile.h"
#include "eventlog/EventStore.h"
#include "eventlog/LocaleTime.h"
#include "eventlog/LocaleWatcher.h"
#include "platform/Logging.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

namespace {

constexpr int kDefaultWidth = 120;
constexpr int kRefreshEventWidth = 80;

const ProfileIntKey* const kWidthKeys[3] = {
    &kProfileEventViewDateWidth, &kProfileEventViewTimeWidth, &kProfileEventViewEventWidth};

} // namespace

CEventListModel::CEventListModel(CEventStore& store, QObject* parent)
    : QAbstractTableModel(parent), m_store(store)
{
    m_timer.setInterval(kTimerMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        std::size_t dropped = 0;
        TimerStep(nullptr, &dropped);
        if (dropped > 0) {
            qCDebug(lcEventLog) << dropped << "events dropped before they could be shown";
        }
    });
    // Dates and times are made at paint time: a change of the regional settings repaints.
    if (CLocaleWatcher* watcher = CLocaleWatcher::CreateLocaleWatcher()) {
        connect(watcher, &CLocaleWatcher::localeChanged, this, &CEventListModel::OnLocaleChanged);
    }
}

CEventListModel::~CEventListModel() = default;

int CEventListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
}

int CEventListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CEventListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 ||
        static_cast<std::size_t>(index.row()) >= m_shown.size()) {
        return {};
    }
    const EventRecord& r = m_shown[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case ColumnDate:
            return CLocaleTime::DateText(r.time);
        case ColumnTime:
            return CLocaleTime::TimeText(r.time, true);
        case ColumnEvent:
            return r.text;
        default:
            return {};
        }
    case ImageIndexRole:
        return index.column() == ColumnDate ? QVariant(r.type == EventType::Information ? 0 : 1)
                                            : QVariant();
    case TypeRole:
        return static_cast<int>(r.type);
    default:
        return {};
    }
}

QVariant CEventListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case ColumnDate:
        return LoadString(kIdsColumnDate);
    case ColumnTime:
        return LoadString(kIdsColumnTime);
    case ColumnEvent:
        return LoadString(kIdsColumnEvent);
    default:
        return {};
    }
}

void CEventListModel::StartTimer()
{
    m_timer.start();
}

void CEventListModel::StopTimer()
{
    m_timer.stop();
}

std::size_t CEventListModel::TimerStep(std::vector<EventRecord>* taken, std::size_t* dropped)
{
    std::lock_guard lock(m_store.Lock());
    std::vector<EventRecord> fresh = m_store.TakePending(dropped);
    if (fresh.empty()) {
        return 0;
    }
    if (taken) {
        taken->insert(taken->end(), fresh.begin(), fresh.end());
    }
    const std::size_t count = fresh.size();
    // One removal and one insertion per step, whatever the burst: the view repaints once.
    const std::size_t keepFresh = std::min(count, kMaxShown);
    const std::size_t keepOld = std::min(m_shown.size(), kMaxShown - keepFresh);
    const std::size_t removeOld = m_shown.size() - keepOld;
    if (removeOld > 0) {
        beginRemoveRows({}, 0, static_cast<int>(removeOld) - 1);
        m_shown.erase(m_shown.begin(), m_shown.begin() + static_cast<std::ptrdiff_t>(removeOld));
        endRemoveRows();
    }
    const int first = static_cast<int>(m_shown.size());
    beginInsertRows({}, first, first + static_cast<int>(keepFresh) - 1);
    m_shown.insert(m_shown.end(),
                   std::make_move_iterator(fresh.end() - static_cast<std::ptrdiff_t>(keepFresh)),
                   std::make_move_iterator(fresh.end()));
    endInsertRows();
    return count;
}

void CEventListModel::ClearMessages()
{
    std::lock_guard lock(m_store.Lock());
    if (m_shown.empty()) {
        return;
    }
    beginResetModel();
    m_shown.clear();
    endResetModel();
}

bool CEventListModel::ToggleErrorsOnly()
{
    std::lock_guard lock(m_store.Lock());
    m_store.ToggleErrorsOnly();
    return m_store.IsErrorsOnly();
}

bool CEventListModel::IsErrorsOnly() const
{
    return m_store.IsErrorsOnly();
}

QString CEventListModel::CopyText(const QList<int>& rows) const
{
    int first = -1;
    for (const int row : rows) {
        if (row >= 0 && static_cast<std::size_t>(row) < m_shown.size() &&
            (first < 0 || row < first)) {
            first = row;
        }
    }
    return first < 0 ? QString() : m_shown[static_cast<std::size_t>(first)].text;
}

bool CEventListModel::SaveLog(const QString& path) const
{
    return ::SaveLog(path, m_shown);
}

QString CEventListModel::WriteRunLog(const QString& folder) const
{
    return ::WriteRunLog(folder, m_shown);
}

void CEventListModel::LoadSettings()
{
    m_store.SetErrorsOnly(GetProfileInt(kProfileEventViewErrorsOnly) != 0);
}

void CEventListModel::SaveSettings() const
{
    WriteProfileInt(kProfileEventViewErrorsOnly, m_store.IsErrorsOnly() ? 1 : 0);
}

std::array<int, 3> CEventListModel::ColumnWidths(bool headerRefresh)
{
    std::array<int, 3> widths{};
    for (int i = 0; i < 3; ++i) {
        const int fallback = headerRefresh && i == ColumnEvent ? kRefreshEventWidth : kDefaultWidth;
        const int w = GetProfileInt(QString::fromLatin1(kWidthKeys[i]->section),
                                    QString::fromLatin1(kWidthKeys[i]->key), fallback);
        widths[static_cast<std::size_t>(i)] = w < 0 ? fallback : w;
    }
    return widths;
}

void CEventListModel::SaveColumnWidths(const std::array<int, 3>& widths)
{
    for (int i = 0; i < 3; ++i) {
        WriteProfileInt(*kWidthKeys[i], widths[static_cast<std::size_t>(i)]);
    }
}

void CEventListModel::RefreshHeaders()
{
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

QString CEventListModel::LineText(const EventRecord& record)
{
    return FormatLogLine(record);
}

void CEventListModel::OnLocaleChanged()
{
    if (!m_shown.empty()) {
        emit dataChanged(index(0, ColumnDate),
                         index(static_cast<int>(m_shown.size()) - 1, ColumnTime),
                         {Qt::DisplayRole});
    }
}
