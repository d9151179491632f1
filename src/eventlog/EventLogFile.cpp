#include "eventlog/EventLogFile.h"

#include <QDir>
#include <QFile>

#include "eventlog/LocaleTime.h"
#include "eventlog/TextFile.h"
#include "platform/Logging.h"

namespace {

bool WriteLines(CTextFile& file, const std::deque<EventRecord>& records)
{
    for (const EventRecord& r : records) {
        if (!file.WriteString(FormatLogLine(r) + QLatin1String("\r\n"))) {
            return false;
        }
    }
    return true;
}

} // namespace

QString OneLineText(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        switch (c.category()) {
        case QChar::Other_Control:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            c = u' ';
            break;
        default:
            break;
        }
    }
    return line;
}

QString FormatLogLine(const EventRecord& record)
{
    return CLocaleTime::DateText(record.time) + u',' + CLocaleTime::TimeText(record.time, true) +
           u',' + OneLineText(record.text);
}

QString RunLogName(const SystemTime& t)
{
    return QString::asprintf("%d-%02d-%02d %02d-%02d-%02d-%03d.log", t.wYear, t.wMonth, t.wDay,
                             t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
}

QString RunLogClosingLine(const SystemTime& t)
{
    return QString::asprintf("%d/%02d/%02d,%02d:%02d:%02d,Quit Zunaro normally!", t.wYear, t.wMonth,
                             t.wDay, t.wHour, t.wMinute, t.wSecond);
}

bool SaveLog(const QString& path, const std::deque<EventRecord>& records)
{
    CTextFile file;
    QString error;
    if (!file.Open(path, CTextFile::kLogFlags, &error)) {
        qCDebug(lcEventLog) << "cannot create" << path << error;
        return false;
    }
    const bool written = WriteLines(file, records);
    const bool closed = file.Close();
    return written && closed;
}

QString WriteRunLog(const QString& folder, const std::deque<EventRecord>& records,
                    const SystemTime* now)
{
    QDir dir(folder);
    // Regular files only, case as typed: a folder or a "notes.LOG" of the user stays.
    const QStringList old =
        dir.entryList({QStringLiteral("*.log")}, QDir::Files | QDir::Hidden | QDir::CaseSensitive);
    for (const QString& name : old) {
        if (!QFile::remove(dir.filePath(name))) {
            qCDebug(lcEventLog) << "cannot delete" << dir.filePath(name);
        }
    }
    SystemTime local;
    if (now) {
        local = *now;
    } else {
        GetLocalTime(&local);
    }
    const QString path = dir.filePath(RunLogName(local));
    CTextFile file;
    QString error;
    if (!file.Open(path, CTextFile::kLogFlags, &error)) {
        qCDebug(lcEventLog) << "cannot create" << path << error;
        return {};
    }
    const bool written = WriteLines(file, records) &&
                         file.WriteString(RunLogClosingLine(local) + QLatin1String("\r\n"));
    const bool closed = file.Close();
    return written && closed ? path : QString();
}
