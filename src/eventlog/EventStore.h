#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include <QString>

#include "eventlog/EventRecord.h"

// The pending events between the posting threads and the view (or the headless printer)
// that takes them on its timer, plus the errors-only filter. The lock is re-entrant and is
// also the lock of whatever shows the records, so taking records and showing them is one
// step for the posting threads.
class CEventStore
{
public:
    // Most records kept waiting for the taker. When they are not taken in time, the oldest
    // are dropped and counted, and TakePending reports the count.
    static constexpr std::size_t kMaxPending = 65536;

    CEventStore() = default;
    CEventStore(const CEventStore&) = delete;
    CEventStore& operator=(const CEventStore&) = delete;

    // Stamps and appends an event; with errors-only set, an information event is dropped.
    void AddEvent(EventType type, const QString& text);
    // Returns every pending record, oldest first, and leaves pending empty. dropped, when
    // given, receives the number of records lost to kMaxPending since the last take.
    std::vector<EventRecord> TakePending(std::size_t* dropped = nullptr);
    // Number of records waiting.
    std::size_t PendingCount() const;

    void SetErrorsOnly(bool on);
    void ToggleErrorsOnly();
    bool IsErrorsOnly() const;

    // The store's lock, for the view that guards its shown list with it.
    std::recursive_mutex& Lock() const { return m_lock; }

private:
    mutable std::recursive_mutex m_lock;
    std::deque<EventRecord> m_pending;
    std::size_t m_dropped = 0;
    bool m_errorsOnly = false;
};
