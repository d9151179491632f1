#pragma once

#include <QString>

#include "eventlog/TimeStamp.h"

// The kind of an event: information, or an error (shown with the error image and kept by
// the "Log Errors Only" filter).
enum class EventType : int
{
    Information = 0,
    Error = 1
};

// One posted event, owned by the event store from the moment it is posted.
struct EventRecord
{
    QString text;
    TimeStamp time;
    EventType type = EventType::Information;
};
