#pragma once

#include <QString>

#include "eventlog/TimeStamp.h"

enum EventType : int
{
    EventInformation = 0,
    EventError = 1, // any non-zero type shows as an error
};

// One posted event, owned by the event store from the moment it is posted.
struct EventRecord
{
    QString text;
    TimeStamp time;
    int type = EventInformation;
};
