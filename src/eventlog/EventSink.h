#pragma once

#include <QString>

#include "eventlog/EventRecord.h"

class CEventStore;

// The one function through which every part of the program, on any thread, reports an
// event, information or error. It never touches a window and waits at most for the
// store's lock. With no store registered the event is dropped.
void EventSink(EventType type, const QString& text);

// Makes store the target of EventSink (the event view while its window lives; the headless
// program; a test). Replaces any earlier target.
void RegisterEventStore(CEventStore* store);
// Clears the target if it is store. Returns once no thread is inside store through
// EventSink any more, so store may be destroyed afterwards. Never call it while holding
// the store's lock.
void UnregisterEventStore(CEventStore* store);
// The current target, or null.
CEventStore* RegisteredEventStore();
