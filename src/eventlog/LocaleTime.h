#pragma once

#include <QString>

#include "eventlog/TimeStamp.h"

struct LocaleTimeFormats;

// The regional settings behind the date and time texts, with the values derived from them.
struct LocaleSettings
{
    int dateOrder = 0;       // 0 month-day-year, 1 day-month-year, 2 year-month-day
    int clock = 0;           // 0 twelve-hour, otherwise twenty-four-hour
    int hourLeadingZero = 0; // non-zero pads the hour with 0, zero with a space
    QChar dateSeparator = u'/';
    QChar timeSeparator = u':';
    QString shortDate = QStringLiteral("M/d/yy"); // at most kMaxShortDate characters
    QString morning = QStringLiteral("am");       // at most kMaxMarker characters
    QString afternoon = QStringLiteral("pm");
    int monthDigits = 1; // 1 or 2
    int dayDigits = 1;   // 1 or 2
    int yearDigits = 2;  // 2 or 4
    int dateWidth = 0;   // 8 with a two-digit year, else 10; 0 = not read yet
    int timeWidth = 0;   // 5, plus 1 + the longer marker on a twelve-hour clock; 0 = not read

    static constexpr int kMaxShortDate = 15;
    static constexpr int kMaxMarker = 7;
};

// Turns event time stamps into the texts of the Date and Time columns and of the log lines,
// following the user's regional settings: the profile section "intl" (keys iDate, iTime,
// iTLZero, sDate, sTime, sShortDate, s1159, s2359) where a key is present, else the value
// derived from the user's LC_TIME locale. One process-wide copy of the settings, guarded by
// LocaleLock: every call is safe on any thread, and a re-read never mixes old and new values
// inside one text.
class CLocaleTime
{
public:
    // Buffer size of the texts the columns and log writers ask for.
    static constexpr int kTextCapacity = 256;

    // Reads the settings again (profile, then locale). Never fails: missing values take
    // their defaults.
    static void ReadLocaleSettings();
    // Writes the date of t into buffer (capacity in characters, terminator included); when
    // the date cannot fit, fills it with '#'. Does nothing without a buffer.
    static void FormatLocaleDate(const TimeStamp& t, char16_t* buffer, int capacity);
    // Writes the time of t rounded to the second (the date is not touched), with or without
    // the seconds field; fills the buffer with '#' like FormatLocaleDate when it cannot fit.
    static void FormatLocaleTime(const TimeStamp& t, char16_t* buffer, int capacity,
                                 bool withSeconds);

    // The same into a kTextCapacity buffer, as a string.
    static QString DateText(const TimeStamp& t);
    static QString TimeText(const TimeStamp& t, bool withSeconds = true);

    // A copy of the current settings (read first when they were not read yet).
    static LocaleSettings Settings();
    // Replaces the settings with the eight stored fields of settings (the derived ones are
    // computed again) until the next ReadLocaleSettings. For tests, benchmarks and fuzzing.
    static void SetSettings(const LocaleSettings& settings);
    // Returns the settings a locale's strftime pictures stand for (no profile involved).
    static LocaleSettings DeriveFromLocale(const LocaleTimeFormats& formats);
};
