#include <thread>
#include <vector>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include "platform/Folders.h"
#include "platform/Profile.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

TEST(Profile, Values_KeptAsTypedInZunaroConfWhenWrittenOrHandEdited)
{
    for (const QString& text : {QStringLiteral("a, b; \u4e2d=c"), QStringLiteral(" padded "),
                                QStringLiteral("\"quoted\""), QString("")}) {
        ASSERT_TRUE(WriteProfileString("Main Window", "Text", text));
        EXPECT_EQ(GetProfileString("Main Window", "Text", "missing"), text);
    }
    EXPECT_EQ(ProfilePath(), qEnvironmentVariable("XDG_CONFIG_HOME") + "/Zunaro/Zunaro.conf");
    QFile file(ProfilePath());
    ASSERT_TRUE(file.exists() && file.open(QIODevice::Append));
    file.write("\n[intl]\nsLongDate=dddd, MMMM d, yyyy\nsThousand=,\nsList=;\n"
               "[Tool Bar]\nTitle=Zunaro Alarm\n");
    file.close();
    EXPECT_EQ(GetProfileString("intl", "sLongDate"), "dddd, MMMM d, yyyy");
    EXPECT_EQ(GetProfileString("intl", "sThousand"), ",");
    EXPECT_EQ(GetProfileString("intl", "sList"), ";");
    EXPECT_EQ(GetProfileString("Tool Bar", "Title"), "Zunaro Alarm");
}

TEST(Profile, GetProfileInt_NonNumericGivesDefault)
{
    const std::pair<const char*, int> cases[] = {
        {" 42 ", 42}, {"-5", -5}, {"12abc", 3}, {"", 3}, {"99999999999", 3}};
    for (const auto& [stored, expected] : cases) {
        ASSERT_TRUE(WriteProfileString("Numbers", "Value", stored));
        EXPECT_EQ(GetProfileInt("Numbers", "Value", 3), expected) << stored;
    }
}

TEST(Profile, ConcurrentWriters_KeepEveryValue)
{
    {
        std::vector<std::jthread> threads; // joined when they go
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([t] {
                for (int n = t * 40; n < t * 40 + 40; ++n) {
                    WriteProfileInt("Writers", QString::number(n), n);
                }
            });
        }
    }
    for (int n = 0; n < 160; ++n) {
        EXPECT_EQ(GetProfileInt("Writers", QString::number(n), -1), n);
    }
}

TEST(Folders, DataFolder_ZunaroHomeElseXdgDataHomeCreated)
{
    const QByteArray savedHome = qgetenv("ZUNARO_HOME");
    const QString home = TestHome() + "/home-a/deeper";
    qputenv("ZUNARO_HOME", (home + "/").toLocal8Bit());
    EXPECT_EQ(DataFolder(), home);
    EXPECT_TRUE(QDir(home).exists());

    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME") + "/Zunaro";
    for (const bool unset : {true, false}) {
        unset ? qunsetenv("ZUNARO_HOME") : qputenv("ZUNARO_HOME", "");
        EXPECT_EQ(DataFolder(), xdg);
        EXPECT_TRUE(QDir(xdg).exists());
        QDir(xdg).removeRecursively();
    }
    qputenv("ZUNARO_HOME", savedHome);
}
