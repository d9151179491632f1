#pragma once

#include <cstdint>

#include "platform/SystemTime.h"

// When an event was posted: the local time plus two values derived from it for sorting and
// formatting.
struct TimeStamp
{
    SystemTime local;
    std::uint32_t millisecondsOfDay = 0; // ((h * 60 + m) * 60 + s) * 1000 + ms
    std::int32_t dayOfYear = 0;          // zero-based: 1 January is 0
};

// Fills stamp with the current local time.
void StampNow(TimeStamp& stamp);
// Fills stamp from a given local time.
void StampFrom(const SystemTime& local, TimeStamp& stamp);
// Returns the zero-based day of the year of a date (Gregorian leap years).
int DayOfYear(int year, int month, int day);
// Returns true for a Gregorian leap year.
bool IsLeapYear(int year);
