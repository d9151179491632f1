#pragma once

#include <QString>

// The date and time pictures of the user's LC_TIME locale, as the C library states them
// (strftime conversions such as "%d.%m.%Y" and "%H:%M:%S").
struct LocaleTimeFormats
{
    QString dateFormat; // D_FMT
    QString timeFormat; // T_FMT
    QString amPmFormat; // T_FMT_AMPM
    QString morning;    // AM_STR, may be empty
    QString afternoon;  // PM_STR, may be empty
};

// Returns the pictures of the locale named by the environment (LC_ALL, LC_TIME, LANG) without
// touching the process-wide locale. A locale that is not installed gives those of "C".
// Safe on any thread.
LocaleTimeFormats UserLocaleTimeFormats();
