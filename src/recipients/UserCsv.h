#pragma once

#include <vector>

#include <QString>

class CUser;
class CUserList;

// CSV export and import of the recipient list: header "ID,Name,Telephone,Mail", one line
// per user, fields as they are (no quoting), text in the ANSI code page with CR LF line
// ends. Both act only on files whose extension is "csv" (any case).

// Writes rows in the given order (the order a list shows) with IDs 1, 2, 3, ... Returns
// false when nothing or not all was written (other extension, file not creatable, write
// error).
bool ExportUsersCsv(const std::vector<const CUser*>& rows, const QString& path);
// The same in list order, under the list lock.
bool ExportUsersCsv(const CUserList& users, const QString& path);

struct CsvImportResult
{
    bool read = false;         // the file was read and its header accepted
    int updated = 0;           // users found by name and given the file's number and mail
    std::vector<CUser*> added; // new users, appended to the list in file order
};

// Reads a CSV file into users: a name already in the list (FindByName, case ignored) gets
// the line's telephone and mail; other names become new users added after the whole file
// was read. The header must equal "ID,Name,Telephone,Mail" ignoring case; a last line
// without line feed is not read; a UTF-8 byte order mark makes the file UTF-8. Files with
// another extension, unreadable files, files over kMaxCsvBytes and a wrong header change
// nothing (read = false).
CsvImportResult ImportUsersCsv(CUserList& users, const QString& path);

// Largest CSV file the import reads.
inline constexpr qint64 kMaxCsvBytes = 64 * 1024 * 1024;
