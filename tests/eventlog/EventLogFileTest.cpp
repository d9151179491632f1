#include <gtest/gtest.h>

#include <deque>

#include <QDir>
#include <QFileInfo>
#include <QStringEncoder>

#include "eventlog/EventLogFile.h"
#include "support/TestSupport.h"

namespace {

const SystemTime kMarch5{2016, 3, 6, 5, 14, 7, 9, 123};

EventRecord Record(const QString& text, EventType type = EventType::Information,
                   const SystemTime& at = kMarch5)
{
    EventRecord r{text, {}, type};
    StampFrom(at, r.time);
    return r;
}

QByteArray Utf16(const QString& text)
{
    return QStringEncoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom)(text);
}

} // namespace

TEST(RunLog, ExactBytes_OneLinePerEventAndClosingLine)
{
    UseGermanDates();
    const std::deque<EventRecord> shown = {
        Record(u"Succeed to initialize Zunaro."_qs),
        Record(u"a, b,,c"_qs, EventType::Error, SystemTime{2016, 3, 6, 5, 14, 7, 9, 600}),
        // Print data that tries to forge a line stays on its own line.
        Record(u"Fire\r\n05.03.2016,14:07:09,Send 'x' to 'y' successfully!\n"_qs),
        Record(u"tab\tnul\0vt\vdel\x7f nel\x85 ls\u2028 ps\u2029 \u62a5\u8b66"_qs),
    };
    const QString path = WriteRunLog(FreshFolder(u"exact"_qs), shown, &kMarch5);
    EXPECT_EQ(QFileInfo(path).fileName(), u"2016-03-05 14-07-09-123.log"_qs);
    const QString expected = u"05.03.2016,14:07:09,Succeed to initialize Zunaro.\r\n"
                             u"05.03.2016,14:07:10,a, b,,c\r\n"
                             u"05.03.2016,14:07:09,Fire  05.03.2016,14:07:09,Send 'x' to 'y' "
                             u"successfully! \r\n"
                             u"05.03.2016,14:07:09,tab nul vt del  nel  ls  ps  \u62a5\u8b66\r\n"
                             u"2016/03/05,14:07:09,Quit Zunaro normally!\r\n"_qs;
    EXPECT_EQ(ReadBytes(path), Utf16(expected));

    // An empty view at exit: the byte order mark and the closing line only.
    const SystemTime at{2009, 1, 4, 1, 0, 0, 5, 7};
    const QString empty = WriteRunLog(FreshFolder(u"empty"_qs), {}, &at);
    EXPECT_EQ(QFileInfo(empty).fileName(), u"2009-01-01 00-00-05-007.log"_qs);
    EXPECT_EQ(ReadBytes(empty), Utf16(u"2009/01/01,00:00:05,Quit Zunaro normally!\r\n"_qs));
}

TEST(RunLog, EarlierLogsDeleted_OtherFilesKept)
{
    const QString folder = FreshFolder(u"rotate"_qs);
    for (const char* name : {"2016-03-04 10-00-00-000.log", "old.log", ".hidden.log", "alarms.znr",
                             "notes.txt", "log", "notes.LOG", "a.log.bak"}) {
        WriteBytes(folder + u'/' + QString::fromLatin1(name), "x");
    }
    QDir().mkpath(folder + QStringLiteral("/archive.log"));
    ASSERT_FALSE(WriteRunLog(folder, {Record(u"one"_qs)}, &kMarch5).isEmpty());
    QStringList left =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    left.sort();
    EXPECT_EQ(left,
              (QStringList{u"2016-03-05 14-07-09-123.log"_qs, u"a.log.bak"_qs, u"alarms.znr"_qs,
                           u"archive.log"_qs, u"log"_qs, u"notes.LOG"_qs, u"notes.txt"_qs}));
}

TEST(SaveLog, ReplacesTheFileAndReportsWriteFailures)
{
    UseGermanDates();
    const QString path = FreshFolder(u"save"_qs) + QStringLiteral("/Zunaro.log");
    WriteBytes(path, QByteArray(5000, 'z'));
    ASSERT_TRUE(SaveLog(path, {Record(u"only"_qs)}));
    EXPECT_EQ(ReadBytes(path), Utf16(u"05.03.2016,14:07:09,only\r\n"_qs));

    std::deque<EventRecord> many(3000, Record(u"an event with some text to fill the disk"_qs));
    EXPECT_FALSE(SaveLog(QStringLiteral("/dev/full"), many)); // fails part-way, no crash
    // A folder that cannot exist (below a regular file): no file, no crash.
    EXPECT_TRUE(WriteRunLog(path + QStringLiteral("/sub"), many, &kMarch5).isEmpty());
    EXPECT_FALSE(SaveLog(path + QStringLiteral("/sub/x.log"), many));
}
