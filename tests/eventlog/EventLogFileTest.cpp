#include <gtest/gtest.h>

#include <deque>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "eventlog/EventLogFile.h"
#include "eventlog/LocaleTime.h"
#include "eventlog/TextFile.h"
#include "platform/Profile.h"
#include "support/TestSupport.h"

namespace {

const SystemTime kMarch5{2016, 3, 6, 5, 14, 7, 9, 123};

// The German-style settings: day-month-year, two d, two M, four y, full stop, 24 hours.
void UseGermanDates()
{
    const QString s = QStringLiteral("intl");
    WriteProfileInt(s, QStringLiteral("iDate"), 1);
    WriteProfileInt(s, QStringLiteral("iTime"), 1);
    WriteProfileInt(s, QStringLiteral("iTLZero"), 1);
    WriteProfileString(s, QStringLiteral("sDate"), QStringLiteral("."));
    WriteProfileString(s, QStringLiteral("sTime"), QStringLiteral(":"));
    WriteProfileString(s, QStringLiteral("sShortDate"), QStringLiteral("dd.MM.yyyy"));
    CLocaleTime::ReadLocaleSettings();
}

EventRecord Record(const QString& text, int type = 0, const SystemTime& at = kMarch5)
{
    EventRecord r;
    r.text = text;
    r.type = type;
    StampFrom(at, r.time);
    return r;
}

QByteArray Utf16(const QString& text)
{
    QByteArray out("\xFF\xFE", 2);
    for (const QChar c : text) {
        out.append(static_cast<char>(c.unicode() & 0xFF));
        out.append(static_cast<char>(c.unicode() >> 8));
    }
    return out;
}

QString FreshFolder(const char* name)
{
    const QString folder = TestHome() + QStringLiteral("/") + QString::fromLatin1(name);
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    return folder;
}

} // namespace

TEST(RunLog, ExactBytes_LinesOldestFirstAndClosingLine)
{
    UseGermanDates();
    const QString folder = FreshFolder("exact");
    const std::deque<EventRecord> shown = {
        Record(u"Succeed to initialize Zunaro."_qs),
        Record(u"a, b,,c"_qs, 1, SystemTime{2016, 3, 6, 5, 14, 7, 9, 600}),
        Record(u"two\r\nlines \u62a5\u8b66"_qs),
    };
    const QString path = WriteRunLog(folder, shown, &kMarch5);
    EXPECT_EQ(QFileInfo(path).fileName(), u"2016-03-05 14-07-09-123.log"_qs);
    const QString expected = u"05.03.2016,14:07:09,Succeed to initialize Zunaro.\r\n"
                             u"05.03.2016,14:07:10,a, b,,c\r\n"
                             u"05.03.2016,14:07:09,two\r\nlines \u62a5\u8b66\r\n"
                             u"2016/03/05,14:07:09,Quit Zunaro normally!\r\n"_qs;
    EXPECT_EQ(ReadBytes(path), Utf16(expected));
}

TEST(RunLog, EmptyView_BomAndClosingLineOnly)
{
    const QString folder = FreshFolder("empty");
    const SystemTime at{2009, 1, 4, 1, 0, 0, 5, 7};
    const QString path = WriteRunLog(folder, {}, &at);
    EXPECT_EQ(QFileInfo(path).fileName(), u"2009-01-01 00-00-05-007.log"_qs);
    EXPECT_EQ(ReadBytes(path), Utf16(u"2009/01/01,00:00:05,Quit Zunaro normally!\r\n"_qs));
}

TEST(RunLog, EarlierLogsDeleted_OtherFilesKept)
{
    const QString folder = FreshFolder("rotate");
    for (const char* name : {"2016-03-04 10-00-00-000.log", "old.log", ".hidden.log"}) {
        WriteBytes(folder + u'/' + QString::fromLatin1(name), "x");
    }
    for (const char* name : {"alarms.znr", "notes.txt", "log", "notes.LOG", "a.log.bak"}) {
        WriteBytes(folder + u'/' + QString::fromLatin1(name), "keep");
    }
    QDir().mkpath(folder + QStringLiteral("/archive.log"));
    const QString path = WriteRunLog(folder, {Record(u"one"_qs)}, &kMarch5);
    ASSERT_FALSE(path.isEmpty());
    QStringList left =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    left.sort();
    EXPECT_EQ(left,
              (QStringList{u"2016-03-05 14-07-09-123.log"_qs, u"a.log.bak"_qs, u"alarms.znr"_qs,
                           u"archive.log"_qs, u"log"_qs, u"notes.LOG"_qs, u"notes.txt"_qs}));
}

TEST(RunLog, WriteFailures_EndCleanly)
{
    std::deque<EventRecord> many;
    for (int i = 0; i < 3000; ++i) {
        many.push_back(Record(QStringLiteral("event %1 with some text to fill the disk").arg(i)));
    }
    // A full disk: the writes fail part-way, the caller learns it, nothing crashes.
    EXPECT_FALSE(SaveLog(QStringLiteral("/dev/full"), many));
    // A folder that cannot exist (below a regular file): no file, no crash.
    const QString file = FreshFolder("blocked") + QStringLiteral("/plain");
    WriteBytes(file, "x");
    EXPECT_TRUE(WriteRunLog(file + QStringLiteral("/sub"), many, &kMarch5).isEmpty());
    EXPECT_FALSE(SaveLog(file + QStringLiteral("/sub/x.log"), many));
}

TEST(SaveLog, ExistingFileReplacedCompletelyWithoutClosingLine)
{
    UseGermanDates();
    const QString path = FreshFolder("save") + QStringLiteral("/Zunaro.log");
    WriteBytes(path, QByteArray(5000, 'z'));
    ASSERT_TRUE(SaveLog(path, {Record(u"only"_qs)}));
    EXPECT_EQ(ReadBytes(path), Utf16(u"05.03.2016,14:07:09,only\r\n"_qs));
}

TEST(TextFile, UnicodeFile_DetectedAndReadBackWithoutLineEnds)
{
    const QString path = FreshFolder("text") + QStringLiteral("/u.log");
    CTextFile out;
    ASSERT_TRUE(out.Open(path, CTextFile::kLogFlags));
    EXPECT_TRUE(out.WriteString(u"first, line\r\n"_qs));
    EXPECT_TRUE(out.WriteString(u"\u62a5\u8b66\n"_qs));
    EXPECT_TRUE(out.WriteString(u"cr only\rlast"_qs));
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(ReadBytes(path).left(4), QByteArray("\xFF\xFE"
                                                  "f\0",
                                                  4));

    CTextFile in;
    ASSERT_TRUE(in.Open(path, CTextFile::modeRead | CTextFile::typeText));
    EXPECT_TRUE(in.IsUnicode());
    EXPECT_EQ(in.Flags() & (CTextFile::typeText | CTextFile::typeBinary),
              static_cast<std::uint32_t>(CTextFile::typeBinary));
    QString line;
    QStringList lines;
    while (in.ReadString(line)) {
        lines << line;
    }
    // A lone CR is not a line end for the reader; it is removed only at the end of a line.
    EXPECT_EQ(lines, (QStringList{u"first, line"_qs, u"\u62a5\u8b66"_qs, u"cr only\rlast"_qs}));
}

TEST(TextFile, EightBit_CodePageHashesAndLineEnds)
{
    const QString folder = FreshFolder("ansi");
    // A code page that cannot hold a character writes '#' in its place.
    CTextFile latin;
    latin.SetCodePage(1252);
    ASSERT_TRUE(latin.Open(folder + QStringLiteral("/1252.txt"),
                           CTextFile::modeWrite | CTextFile::modeCreate | CTextFile::typeText));
    EXPECT_TRUE(latin.WriteString(u"caf\u00e9 \u62a5\u8b66!\r\n"_qs));
    EXPECT_TRUE(latin.Close());
    EXPECT_EQ(ReadBytes(folder + QStringLiteral("/1252.txt")), QByteArray("caf\xE9 ##!\r\n"));

    // A Chinese code page round-trips, with each kind of line end removed.
    const QString gbk = folder + QStringLiteral("/936.txt");
    WriteBytes(gbk, QByteArray("\xB1\xA8\xBE\xAF\r\nb\nc\rd\r\n\n"));
    CTextFile in;
    in.SetCodePage(936);
    ASSERT_TRUE(in.Open(gbk, CTextFile::modeRead | CTextFile::typeText));
    EXPECT_FALSE(in.IsUnicode());
    QString line;
    QStringList lines;
    while (in.ReadString(line)) {
        lines << line;
    }
    EXPECT_EQ(lines, (QStringList{u"\u62a5\u8b66"_qs, u"b"_qs, u"c\rd"_qs, QString()}));
}
