#include "eventlog/EventSink.h"

#include <shared_mutex>

#include "eventlog/EventStore.h"

namespace {

std::shared_mutex g_targetMutex;
CEventStore* g_target = nullptr;

} // namespace

void EventSink(EventType type, const QString& text)
{
    std::shared_lock lock(g_targetMutex);
    if (g_target) {
        g_target->AddEvent(type, text);
    }
}

void RegisterEventStore(CEventStore* store)
{
    std::unique_lock lock(g_targetMutex);
    g_target = store;
}

void UnregisterEventStore(CEventStore* store)
{
    std::unique_lock lock(g_targetMutex);
    if (g_target == store) {
        g_target = nullptr;
    }
}

CEventStore* RegisteredEventStore()
{
    std::shared_lock lock(g_targetMutex);
    return g_target;
}
