#include "eventlog/EventStore.h"

#include <new>

void CEventStore::AddEvent(EventType type, const QString& text)
{
    std::lock_guard lock(m_lock);
    if (m_errorsOnly && type != EventType::Error) {
        return;
    }
    try {
        EventRecord& record = m_pending.emplace_back();
        record.text = text;
        record.type = type;
        // Stamped inside the lock, so pending stays in time order across threads.
        StampNow(record.time);
    } catch (const std::bad_alloc&) {
        ++m_dropped;
        return;
    }
    if (m_pending.size() > kMaxPending) {
        m_pending.pop_front();
        ++m_dropped;
    }
}

std::vector<EventRecord> CEventStore::TakePending(std::size_t* dropped)
{
    std::lock_guard lock(m_lock);
    std::vector<EventRecord> out(std::make_move_iterator(m_pending.begin()),
                                 std::make_move_iterator(m_pending.end()));
    m_pending.clear();
    if (dropped) {
        *dropped = m_dropped;
    }
    m_dropped = 0;
    return out;
}

std::size_t CEventStore::PendingCount() const
{
    std::lock_guard lock(m_lock);
    return m_pending.size();
}

void CEventStore::SetErrorsOnly(bool on)
{
    std::lock_guard lock(m_lock);
    m_errorsOnly = on;
}

void CEventStore::ToggleErrorsOnly()
{
    std::lock_guard lock(m_lock);
    m_errorsOnly = !m_errorsOnly;
}

bool CEventStore::IsErrorsOnly() const
{
    std::lock_guard lock(m_lock);
    return m_errorsOnly;
}
