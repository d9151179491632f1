#pragma once

#include <deque>

#include <QString>

#include "eventlog/EventRecord.h"
#include "platform/SystemTime.h"

// The log files of the event list: the run log written into the data folder when the program
// ends (it replaces every earlier *.log there) and the copies the user saves. Both are UTF-16
// little endian with the byte order mark, one "date,time,text" line per shown record, oldest
// first, lines ended by CR LF.

// Returns the line of one record without its line end: the locale date, the locale time with
// seconds and the text, separated by commas. Commas stay; control characters and line
// separators of the text become spaces, so print data cannot start a forged line. Also the
// line the headless program prints.
QString FormatLogLine(const EventRecord& record);
// Returns text with every control character (C0, DEL, C1) and line or paragraph separator
// replaced by a space.
QString OneLineText(const QString& text);
// Returns the run log's file name for a local time: "2016-03-05 14-07-09-123.log".
QString RunLogName(const SystemTime& local);
// Returns the run log's closing line (without the line end) for a local time:
// "2016/03/05,14:07:09,Quit Zunaro normally!". It does not follow the regional settings.
QString RunLogClosingLine(const SystemTime& local);

// Writes records to path, replacing the file. Returns false when it cannot be created or a
// write fails; the file then ends after the last line written in full.
bool SaveLog(const QString& path, const std::deque<EventRecord>& records);
// Deletes the *.log files (only those) in folder, then writes the run log named after now
// (the current local time when null) with records and the closing line. Returns the path
// written, or an empty string when the file could not be created or written in full.
// Never throws.
QString WriteRunLog(const QString& folder, const std::deque<EventRecord>& records,
                    const SystemTime* now = nullptr);
