#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <tuple>

#include <QCoreApplication>
#include <QFile>

#include "eventlog/LocaleTime.h"
#include "eventlog/LocaleWatcher.h"
#include "platform/LocaleInfo.h"
#include "platform/Profile.h"
#include "support/TestSupport.h"

namespace {

const char* const kKeys[] = {"iDate",   "sDate", "sShortDate", "iTime",
                             "iTLZero", "sTime", "s1159",      "s2359"};

// The eight "intl" values in the order of kKeys.
using Intl = std::array<const char*, 8>;
const Intl kGerman{"1", ".", "dd.MM.yyyy", "1", "1", ":", "am", "pm"};
const Intl kUsShort{"0", "/", "M/d/yy", "0", "0", ":", "am", "pm"};

void ApplyIntl(const Intl& values)
{
    for (std::size_t i = 0; i < values.size(); ++i) {
        WriteProfileString(u"intl"_qs, QString::fromLatin1(kKeys[i]), QString::fromUtf8(values[i]));
    }
    CLocaleTime::ReadLocaleSettings();
}

void ClearIntl()
{
    for (const char* key : kKeys) {
        DeleteProfileValue(u"intl"_qs, QString::fromLatin1(key));
    }
}

TimeStamp At(std::uint16_t h, std::uint16_t mi, std::uint16_t s, std::uint16_t ms = 0,
             std::uint16_t y = 2016, std::uint16_t mo = 3, std::uint16_t d = 5)
{
    TimeStamp t;
    StampFrom(SystemTime{y, mo, 0, d, h, mi, s, ms}, t);
    return t;
}

} // namespace

TEST(LocaleTime, Texts_FollowTheSettings)
{
    const Intl twelveZero{"0", "/", "MM/dd/yy", "0", "1", ":", "am", "pm"};
    const Intl dayNoZero{"1", "/", "d/M/yyyy", "1", "0", ".", "am", "pm"};
    const Intl longMarkers{"2", "-", "yyyy-MM-dd", "0", "0", ":", "vormittags", "nachmittags"};
    const Intl unknownOrder{"7", ".", "dd.MM.yyyy", "1", "1", ":", "am", "pm"};
    const Intl noSeparator{"1", "", "dd.MM.yyyy", "1", "1", ":", "am", "pm"};
    const std::tuple<Intl, TimeStamp, bool, const char16_t*, const char16_t*> cases[] = {
        {kGerman, At(14, 7, 9), true, u"05.03.2016", u"14:07:09"},
        {kUsShort, At(0, 15, 0), true, u"3/5/16", u"12:15:00 am"},
        {kUsShort, At(12, 0, 0), true, u"3/5/16", u"12:00:00 pm"},
        // The rounded time carries into the next day; the date stays that of the old day.
        {kUsShort, At(23, 59, 59, 700, 2016, 12, 31), true, u"12/31/16", u"12:00:00 am"},
        {kUsShort, At(11, 59, 59, 500), true, u"3/5/16", u"12:00:00 pm"}, // the rounded hour
        {kUsShort, At(11, 59, 59, 499), true, u"3/5/16", u"11:59:59 am"},
        {kUsShort, At(9, 5, 40, 0, 2005, 11, 9), false, u"11/9/05", u" 9:05 am"},
        {twelveZero, At(9, 5, 0), true, u"03/05/16", u"09:05:00 am"},
        {dayNoZero, At(9, 5, 0, 0, 2016, 12, 25), true, u"25/12/2016", u" 9.05.00"},
        {longMarkers, At(15, 0, 0), true, u"2016-03-05", u" 3:00:00 nachmit"},
        {unknownOrder, At(10, 0, 0), true, u"3/05/16", u"10:00:00"},   // fixed month/day/year
        {noSeparator, At(10, 0, 0), true, u"05/03/2016", u"10:00:00"}, // default kept
    };
    for (const auto& [intl, at, seconds, date, time] : cases) {
        ApplyIntl(intl);
        EXPECT_EQ(CLocaleTime::DateText(at), QString::fromUtf16(date));
        EXPECT_EQ(CLocaleTime::TimeText(at, seconds), QString::fromUtf16(time));
    }
}

TEST(LocaleTime, SmallBuffer_FilledWithHashesNeverOverrun)
{
    // d: date, s: time with seconds, t: time without.
    const std::tuple<const Intl*, char, int, const char16_t*> cases[] = {
        {&kGerman, 'd', 8, u"#######"},      {&kGerman, 'd', 10, u"#########"},
        {&kGerman, 'd', 11, u"05.03.2016"},  {&kGerman, 's', 8, u"#######"},
        {&kGerman, 's', 9, u"14:07:09"},     {&kGerman, 't', 6, u"14:07"},
        {&kUsShort, 's', 11, u"##########"}, // " 2:07:09 pm" needs 11 and the terminator
    };
    const TimeStamp t = At(14, 7, 9);
    for (const auto& [intl, kind, capacity, expected] : cases) {
        ApplyIntl(*intl);
        char16_t buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), u'x');
        if (kind == 'd') {
            CLocaleTime::FormatLocaleDate(t, buffer, capacity);
        } else {
            CLocaleTime::FormatLocaleTime(t, buffer, capacity, kind == 's');
        }
        EXPECT_EQ(QString::fromUtf16(buffer), QString::fromUtf16(expected)) << capacity;
        EXPECT_EQ(buffer[capacity], u'x') << "written beyond the capacity";
    }
    char16_t untouched = u'x';
    CLocaleTime::FormatLocaleDate(t, &untouched, 0); // no room at all, and no buffer
    EXPECT_EQ(untouched, u'x');
    CLocaleTime::FormatLocaleDate(t, nullptr, 100);
    CLocaleTime::FormatLocaleTime(t, nullptr, 100, true);
}

TEST(LocaleTime, DeriveFromLocale_Pictures)
{
    // Order, short date, date separator, clock, leading zero, time separator, morning.
    const auto describe = [](const LocaleSettings& s) {
        return u"%1 %2 %3 %4 %5 %6 %7"_qs.arg(s.dateOrder)
            .arg(s.shortDate, s.dateSeparator)
            .arg(s.clock)
            .arg(s.hourLeadingZero)
            .arg(s.timeSeparator, s.morning);
    };
    const QString c12 = QStringLiteral("%I:%M:%S %p");
    const std::pair<LocaleTimeFormats, const char*> cases[] = {
        {{"%m/%d/%y", "%H:%M:%S", c12, "AM", "PM"}, "0 MM/dd/yy / 1 1 : AM"},
        {{"%d.%m.%Y", "%T", c12, "", ""}, "1 dd.MM.yyyy . 1 1 : am"},
        {{"%F", "%r", c12, "AM", "PM"}, "2 yyyy-MM-dd - 0 1 : AM"},
        {{"%D", "%R", c12, "AM", "PM"}, "0 MM/dd/yy / 1 1 : AM"},
        {{"%e/%-m/%Y", "%l.%M.%S %p", c12, "a.m.", "p.m."}, "1 d/M/yyyy / 0 0 . a.m."},
        {{"%Y年%m月%d日", "%H时%M分%S秒", c12, "上午", "下午"}, "2 yyyy/MM/dd / 1 1 : 上午"},
        {{"%k:%M", "%k:%M", c12, "", ""}, "0 M/d/yy / 1 0 : am"},
    };
    for (const auto& [formats, expected] : cases) {
        EXPECT_EQ(describe(CLocaleTime::DeriveFromLocale(formats)), QString::fromUtf8(expected));
    }
}

TEST(LocaleTime, MissingKeys_TakeTheUserLocale)
{
    ClearIntl();
    setenv("LC_ALL", "C", 1); // the C locale: "%m/%d/%y" and "%H:%M:%S"
    CLocaleTime::ReadLocaleSettings();
    const TimeStamp t = At(14, 7, 9);
    EXPECT_EQ(CLocaleTime::DateText(t) + CLocaleTime::TimeText(t), u"03/05/1614:07:09"_qs);
    // A key that is present wins over the locale; the others still follow it.
    WriteProfileString(u"intl"_qs, u"iDate"_qs, u"1"_qs);
    WriteProfileString(u"intl"_qs, u"sTime"_qs, u"."_qs);
    CLocaleTime::ReadLocaleSettings();
    EXPECT_EQ(CLocaleTime::DateText(t) + CLocaleTime::TimeText(t), u"05/03/1614.07.09"_qs);
    ClearIntl();
    unsetenv("LC_ALL");
}

TEST(LocaleTime, ReReadWhileOtherThreadsFormat_NoMixedText)
{
    // A text mixing both settings means a formatter saw a re-read half done.
    const TimeStamp t = At(14, 7, 9);
    ApplyIntl(kGerman);
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::atomic<long> made{0};
    const auto format = [&] {
        while (!stop) {
            const QString d = CLocaleTime::DateText(t);
            const QString h = CLocaleTime::TimeText(t);
            bad += (d != u"05.03.2016"_qs && d != u"3/5/16"_qs) ||
                   (h != u"14:07:09"_qs && h != u" 2:07:09 pm"_qs);
            ++made;
        }
    };
    std::thread a(format), b(format);
    for (int i = 0; i < 40; ++i) {
        ApplyIntl(i % 2 ? kGerman : kUsShort);
    }
    stop = true;
    a.join();
    b.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(made.load(), 0);
}

TEST(LocaleWatcher, ProfileEdited_ReReadAndAnnounced)
{
    ApplyIntl(kUsShort);
    CLocaleWatcher* watcher = CLocaleWatcher::CreateLocaleWatcher();
    ASSERT_NE(watcher, nullptr);
    int announced = 0;
    QObject::connect(watcher, &CLocaleWatcher::localeChanged, [&] { ++announced; });
    const auto settle = [&](const QString& expected) {
        return WaitUntil([&] {
            QCoreApplication::processEvents();
            return CLocaleTime::DateText(At(14, 7, 9)) == expected;
        });
    };
    // The whole file replaced by hand, as editors save, and edited again after that.
    const QString path = ProfilePath();
    const QByteArray text = ReadBytes(path).replace("sDate=/", "sDate=-");
    WriteBytes(path + u".new"_qs, text);
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::rename(path + u".new"_qs, path));
    EXPECT_TRUE(settle(u"3-5-16"_qs));
    EXPECT_GE(announced, 1);
    announced = 0;
    WriteProfileString(u"intl"_qs, u"iDate"_qs, u"2"_qs);
    EXPECT_TRUE(settle(u"16-3-5"_qs));
    EXPECT_GE(announced, 1);
}
