#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QFile>

#include "eventlog/LocaleTime.h"
#include "eventlog/LocaleWatcher.h"
#include "platform/LocaleInfo.h"
#include "platform/Profile.h"
#include "support/TestSupport.h"

namespace {

struct Intl
{
    int iDate;
    int iTime;
    int iTLZero;
    const char* sDate;
    const char* sTime;
    const char* sShortDate;
    const char* s1159 = "am";
    const char* s2359 = "pm";
};

void ApplyIntl(const Intl& v)
{
    const QString s = QStringLiteral("intl");
    WriteProfileInt(s, QStringLiteral("iDate"), v.iDate);
    WriteProfileInt(s, QStringLiteral("iTime"), v.iTime);
    WriteProfileInt(s, QStringLiteral("iTLZero"), v.iTLZero);
    WriteProfileString(s, QStringLiteral("sDate"), QString::fromUtf8(v.sDate));
    WriteProfileString(s, QStringLiteral("sTime"), QString::fromUtf8(v.sTime));
    WriteProfileString(s, QStringLiteral("sShortDate"), QString::fromUtf8(v.sShortDate));
    WriteProfileString(s, QStringLiteral("s1159"), QString::fromUtf8(v.s1159));
    WriteProfileString(s, QStringLiteral("s2359"), QString::fromUtf8(v.s2359));
    CLocaleTime::ReadLocaleSettings();
}

void ClearIntl()
{
    for (const char* key :
         {"iDate", "iTime", "iTLZero", "sDate", "sTime", "sShortDate", "s1159", "s2359"}) {
        DeleteProfileValue(QStringLiteral("intl"), QString::fromLatin1(key));
    }
}

TimeStamp At(int y, int mo, int d, int h, int mi, int s, int ms)
{
    TimeStamp t;
    StampFrom(SystemTime{static_cast<std::uint16_t>(y), static_cast<std::uint16_t>(mo), 0,
                         static_cast<std::uint16_t>(d), static_cast<std::uint16_t>(h),
                         static_cast<std::uint16_t>(mi), static_cast<std::uint16_t>(s),
                         static_cast<std::uint16_t>(ms)},
              t);
    return t;
}

const Intl kGerman{1, 1, 1, ".", ":", "dd.MM.yyyy"};
const Intl kUsShort{0, 0, 0, "/", ":", "M/d/yy"};

} // namespace

TEST(LocaleTime, Date_OrdersDigitsAndSeparators)
{
    struct Case
    {
        Intl intl;
        int y, mo, d;
        const char16_t* expected;
    };
    const Case cases[] = {
        {kGerman, 2016, 3, 5, u"05.03.2016"},
        {kUsShort, 2016, 3, 5, u"3/5/16"},
        {{0, 0, 0, "/", ":", "MM/dd/yy"}, 2016, 3, 5, u"03/05/16"},
        {{2, 1, 1, "-", ":", "yyyy-MM-dd"}, 2016, 3, 5, u"2016-03-05"},
        {{1, 1, 1, "/", ":", "d/M/yyyy"}, 2016, 12, 25, u"25/12/2016"},
        {{0, 0, 0, "/", ":", "M/d/yy"}, 2005, 11, 9, u"11/9/05"},
        // An unknown order falls back to a fixed month/day/year.
        {{7, 0, 0, ".", ":", "dd.MM.yyyy"}, 2016, 3, 5, u"3/05/16"},
        // An empty separator keeps the default instead of cutting the text short.
        {{1, 1, 1, "", ":", "dd.MM.yyyy"}, 2016, 3, 5, u"05/03/2016"},
    };
    for (const Case& c : cases) {
        ApplyIntl(c.intl);
        EXPECT_EQ(CLocaleTime::DateText(At(c.y, c.mo, c.d, 10, 0, 0, 0)),
                  QString::fromUtf16(c.expected))
            << c.intl.sShortDate << " order " << c.intl.iDate;
    }
}

TEST(LocaleTime, Time_TwelveHourRoundingAndMarkers)
{
    struct Case
    {
        Intl intl;
        int h, mi, s, ms;
        bool seconds;
        const char16_t* expected;
    };
    const Intl twelve = kUsShort;
    const Intl twelveZero{0, 0, 1, "/", ":", "M/d/yy"};
    const Intl day{1, 1, 1, ".", ":", "dd.MM.yyyy"};
    const Intl dayNoZero{1, 1, 0, ".", ".", "dd.MM.yyyy"};
    const Intl longMarkers{0, 0, 0, "/", ":", "M/d/yy", "vormittags", "nachmittags"};
    const Case cases[] = {
        {twelve, 13, 7, 9, 600, true, u" 1:07:10 pm"},
        {twelve, 0, 15, 0, 0, true, u"12:15:00 am"},
        {twelve, 12, 0, 0, 0, true, u"12:00:00 pm"},
        {twelve, 23, 59, 59, 700, true, u"12:00:00 am"},
        {twelve, 11, 59, 59, 500, true, u"12:00:00 pm"}, // the rounded hour picks the marker
        {twelve, 11, 59, 59, 499, true, u"11:59:59 am"},
        {twelveZero, 9, 5, 0, 0, true, u"09:05:00 am"},
        {twelve, 9, 5, 40, 0, false, u" 9:05 am"},
        {day, 23, 59, 59, 700, true, u"00:00:00"},
        {day, 14, 7, 9, 0, false, u"14:07"},
        {dayNoZero, 9, 5, 0, 0, true, u" 9.05.00"},
        {longMarkers, 15, 0, 0, 0, true, u" 3:00:00 nachmit"},
    };
    for (const Case& c : cases) {
        ApplyIntl(c.intl);
        EXPECT_EQ(CLocaleTime::TimeText(At(2016, 3, 5, c.h, c.mi, c.s, c.ms), c.seconds),
                  QString::fromUtf16(c.expected))
            << c.h << ':' << c.mi << ':' << c.s << '.' << c.ms;
    }
}

TEST(LocaleTime, Carry_DateStaysThatOfTheOldDay)
{
    ApplyIntl(kUsShort);
    const TimeStamp t = At(2016, 12, 31, 23, 59, 59, 700);
    EXPECT_EQ(CLocaleTime::TimeText(t), u"12:00:00 am"_qs);
    EXPECT_EQ(CLocaleTime::DateText(t), u"12/31/16"_qs);
}

TEST(LocaleTime, SmallBuffer_FilledWithHashes)
{
    ApplyIntl(kGerman); // date width 10, time width 5 (+3 with seconds)
    const TimeStamp t = At(2016, 3, 5, 14, 7, 9, 0);
    char16_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), u'x');
    CLocaleTime::FormatLocaleDate(t, buffer, 8);
    EXPECT_EQ(QString::fromUtf16(buffer), u"#######"_qs);
    EXPECT_EQ(buffer[8], u'x'); // nothing beyond the capacity
    CLocaleTime::FormatLocaleDate(t, buffer, 10);
    EXPECT_EQ(QString::fromUtf16(buffer), u"#########"_qs);
    CLocaleTime::FormatLocaleDate(t, buffer, 11);
    EXPECT_EQ(QString::fromUtf16(buffer), u"05.03.2016"_qs);
    CLocaleTime::FormatLocaleTime(t, buffer, 8, true);
    EXPECT_EQ(QString::fromUtf16(buffer), u"#######"_qs);
    CLocaleTime::FormatLocaleTime(t, buffer, 9, true);
    EXPECT_EQ(QString::fromUtf16(buffer), u"14:07:09"_qs);
    CLocaleTime::FormatLocaleTime(t, buffer, 6, false);
    EXPECT_EQ(QString::fromUtf16(buffer), u"14:07"_qs);

    ApplyIntl(kUsShort); // "12:00:00 am" needs 11 characters and the terminator
    CLocaleTime::FormatLocaleTime(t, buffer, 11, true);
    EXPECT_EQ(QString::fromUtf16(buffer), u"##########"_qs);

    buffer[0] = u'x';
    CLocaleTime::FormatLocaleDate(t, buffer, 0); // no room at all: untouched
    EXPECT_EQ(buffer[0], u'x');
    CLocaleTime::FormatLocaleDate(t, nullptr, 100);
    CLocaleTime::FormatLocaleTime(t, nullptr, 100, true);
}

TEST(LocaleTime, DeriveFromLocale_Pictures)
{
    struct Case
    {
        LocaleTimeFormats formats;
        int order;
        const char* shortDate;
        char16_t dateSep;
        int clock;
        int leadingZero;
        char16_t timeSep;
        const char* morning;
    };
    const QString c12 = QStringLiteral("%I:%M:%S %p");
    const Case cases[] = {
        {{"%m/%d/%y", "%H:%M:%S", c12, "AM", "PM"}, 0, "MM/dd/yy", u'/', 1, 1, u':', "AM"},
        {{"%d.%m.%Y", "%T", c12, "", ""}, 1, "dd.MM.yyyy", u'.', 1, 1, u':', "am"},
        {{"%F", "%r", c12, "AM", "PM"}, 2, "yyyy-MM-dd", u'-', 0, 1, u':', "AM"},
        {{"%D", "%R", c12, "AM", "PM"}, 0, "MM/dd/yy", u'/', 1, 1, u':', "AM"},
        {{"%e/%-m/%Y", "%l.%M.%S %p", c12, "a.m.", "p.m."},
         1,
         "d/M/yyyy",
         u'/',
         0,
         0,
         u'.',
         "a.m."},
        {{"%Y年%m月%d日", "%H时%M分%S秒", c12, "上午", "下午"},
         2,
         "yyyy/MM/dd",
         u'/',
         1,
         1,
         u':',
         "上午"},
        {{"%k:%M", "%k:%M", c12, "", ""}, 0, "M/d/yy", u'/', 1, 0, u':', "am"},
    };
    for (const Case& c : cases) {
        const LocaleSettings s = CLocaleTime::DeriveFromLocale(c.formats);
        SCOPED_TRACE(c.formats.dateFormat.toStdString() + " " + c.formats.timeFormat.toStdString());
        EXPECT_EQ(s.dateOrder, c.order);
        EXPECT_EQ(s.shortDate, QString::fromUtf8(c.shortDate));
        EXPECT_EQ(s.dateSeparator, QChar(c.dateSep));
        EXPECT_EQ(s.clock, c.clock);
        EXPECT_EQ(s.hourLeadingZero, c.leadingZero);
        EXPECT_EQ(s.timeSeparator, QChar(c.timeSep));
        EXPECT_EQ(s.morning, QString::fromUtf8(c.morning));
    }
}

TEST(LocaleTime, MissingKeys_TakeTheUserLocale)
{
    ClearIntl();
    setenv("LC_ALL", "C", 1); // the C locale: "%m/%d/%y" and "%H:%M:%S"
    CLocaleTime::ReadLocaleSettings();
    const TimeStamp t = At(2016, 3, 5, 14, 7, 9, 0);
    EXPECT_EQ(CLocaleTime::DateText(t), u"03/05/16"_qs);
    EXPECT_EQ(CLocaleTime::TimeText(t), u"14:07:09"_qs);
    // A key that is present wins over the locale; the others still follow it.
    WriteProfileInt(QStringLiteral("intl"), QStringLiteral("iDate"), 1);
    WriteProfileString(QStringLiteral("intl"), QStringLiteral("sTime"), QStringLiteral("."));
    CLocaleTime::ReadLocaleSettings();
    EXPECT_EQ(CLocaleTime::DateText(t), u"05/03/16"_qs);
    EXPECT_EQ(CLocaleTime::TimeText(t), u"14.07.09"_qs);
    ClearIntl();
    unsetenv("LC_ALL");
}

TEST(LocaleTime, ReReadWhileOtherThreadsFormat_NoMixedText)
{
    // Two complete settings; a text made from half of each (05/03/16, 5.3.2016, 14:07:09 pm)
    // means a formatter saw a re-read half done.
    const Intl a = kGerman;
    const Intl b = kUsShort;
    const TimeStamp t = At(2016, 3, 5, 14, 7, 9, 0);
    ApplyIntl(a);
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::atomic<long> made{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&] {
            while (!stop) {
                const QString d = CLocaleTime::DateText(t);
                const QString h = CLocaleTime::TimeText(t);
                if ((d != u"05.03.2016"_qs && d != u"3/5/16"_qs) ||
                    (h != u"14:07:09"_qs && h != u" 2:07:09 pm"_qs)) {
                    ++bad;
                }
                ++made;
            }
        });
    }
    for (int i = 0; i < 40; ++i) {
        ApplyIntl(i % 2 ? a : b);
    }
    stop = true;
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(made.load(), 0);
}

TEST(LocaleWatcher, ProfileEdited_ReReadAndAnnounced)
{
    ApplyIntl(kUsShort);
    CLocaleWatcher* watcher = CLocaleWatcher::CreateLocaleWatcher();
    ASSERT_NE(watcher, nullptr);
    EXPECT_EQ(CLocaleWatcher::CreateLocaleWatcher(), watcher);
    int announced = 0;
    QObject::connect(watcher, &CLocaleWatcher::localeChanged, [&] { ++announced; });
    const TimeStamp t = At(2016, 3, 5, 14, 7, 9, 0);
    const auto settle = [&](const QString& expected) {
        return WaitUntil([&] {
            QCoreApplication::processEvents();
            return CLocaleTime::DateText(t) == expected;
        });
    };

    // Through the profile functions (another part of the program).
    WriteProfileString(QStringLiteral("intl"), QStringLiteral("sShortDate"),
                       QStringLiteral("MM/dd/yyyy"));
    EXPECT_TRUE(settle(u"03/05/2016"_qs));
    EXPECT_GE(announced, 1);

    // By hand: the whole file replaced, as editors save.
    const QString path = ProfilePath();
    QFile in(path);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QByteArray text = in.readAll();
    in.close();
    text.replace("sDate=/", "sDate=-");
    const QString temp = path + QStringLiteral(".new");
    QFile out(temp);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text);
    out.close();
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::rename(temp, path));
    EXPECT_TRUE(settle(u"03-05-2016"_qs));

    // A second hand edit after the replacement is still seen.
    announced = 0;
    WriteProfileInt(QStringLiteral("intl"), QStringLiteral("iDate"), 2);
    EXPECT_TRUE(settle(u"2016-03-05"_qs));
    EXPECT_GE(announced, 1);
}
