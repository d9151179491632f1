#include <thread>
#include <vector>

#include <QFile>

#include <gtest/gtest.h>

#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "support/QtPrinters.h"

namespace {

// Appends text to the profile file, the way a user edits it by hand.
void AppendToProfile(const char* text)
{
    QFile file(ProfilePath());
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(text);
}

} // namespace

TEST(Profile, File_UnderXdgConfigHome)
{
    const QString expected = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Zunaro/Zunaro.conf";
    ASSERT_TRUE(WriteProfileInt("Setting", "Probe", 1));
    EXPECT_EQ(ProfilePath(), expected);
    EXPECT_TRUE(QFile::exists(expected));
}

TEST(Profile, ReadWrite_RoundTripAndDefaults)
{
    EXPECT_EQ(GetProfileInt("Missing", "Key", 7), 7);
    EXPECT_EQ(GetProfileString("Missing", "Key", "fallback"), "fallback");
    EXPECT_EQ(GetProfileInt(kProfileListenerPort), 9100);

    const QString text = QStringLiteral("a, b; \u4e2d=c");
    ASSERT_TRUE(WriteProfileString("Setting", "Text", text));
    ASSERT_TRUE(WriteProfileString("Setting", "Empty", ""));
    ASSERT_TRUE(WriteProfileInt(kProfileListenerPort, 9101));
    EXPECT_EQ(GetProfileString("Setting", "Text"), text);
    EXPECT_EQ(GetProfileString("Setting", "Empty", "fallback"), ""); // stored, not missing
    EXPECT_EQ(GetProfileInt(kProfileListenerPort), 9101);
    ASSERT_TRUE(DeleteProfileValue("Listener", "Port"));
    EXPECT_EQ(GetProfileInt(kProfileListenerPort), 9100);
}

TEST(Profile, GetProfileInt_NonNumericGivesDefault)
{
    const std::pair<const char*, int> cases[] = {{"42", 42},  {" 42 ", 42},      {"-5", -5},
                                                 {"abc", 3},  {"12abc", 3},      {"", 3},
                                                 {"0x10", 3}, {"99999999999", 3}};
    for (const auto& [stored, expected] : cases) {
        ASSERT_TRUE(WriteProfileString("Numbers", "Value", stored));
        EXPECT_EQ(GetProfileInt("Numbers", "Value", 3), expected) << stored;
    }
}

TEST(Profile, SectionWithSpace_WrittenAndHandEdited)
{
    ASSERT_TRUE(WriteProfileInt("Main Window", "Width", 640));
    EXPECT_EQ(GetProfileInt("Main Window", "Width", 0), 640);
    AppendToProfile("\n[Tool Bar]\nTitle=Zunaro Alarm\n");
    EXPECT_EQ(GetProfileString("Tool Bar", "Title"), "Zunaro Alarm");
}

// Regional settings typed by hand ("intl" long date, thousands and list separators) read
// back as the text that is there.
TEST(Profile, HandEdited_ValuesWithCommaOrSemicolon)
{
    AppendToProfile("\n[intl]\nsLongDate=dddd, MMMM d, yyyy\nsThousand=,\nsList=;\n");
    EXPECT_EQ(GetProfileString("intl", "sLongDate"), QStringLiteral("dddd, MMMM d, yyyy"));
    EXPECT_EQ(GetProfileString("intl", "sThousand"), QStringLiteral(","));
    EXPECT_EQ(GetProfileString("intl", "sList"), QStringLiteral(";"));
}

TEST(Profile, ConcurrentWriters_KeepEveryValue)
{
    constexpr int kThreads = 4;
    constexpr int kKeys = 40;
    const auto section = [](int t) { return QString("Writer %1").arg(t); };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < kKeys; ++k) {
                WriteProfileInt(section(t), QString::number(k), t * kKeys + k);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (int n = 0; n < kThreads * kKeys; ++n) {
        EXPECT_EQ(GetProfileInt(section(n / kKeys), QString::number(n % kKeys), -1), n);
    }
}
