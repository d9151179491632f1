#include "platform/Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

class Autostart : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(AutostartFolder()).removeRecursively();
        QFile::remove(AutostartFolder());
    }
    void TearDown() override { SetUp(); }
    static QString AutostartFolder() { return QFileInfo(AutostartFilePath()).absolutePath(); }
};

} // namespace

TEST_F(Autostart, EnableWritesEntryDisableRemovesIt)
{
    EXPECT_EQ(AutostartFilePath(), TestHome() + QStringLiteral("/config/autostart/Zunaro.desktop"));
    EXPECT_FALSE(AutostartEnabled());
    QString error;
    ASSERT_TRUE(EnableAutostart(QStringLiteral("/opt/Zunaro 1/bin/zunaro"), &error))
        << error.toStdString();
    EXPECT_TRUE(AutostartEnabled());
    const QByteArray entry = ReadBytes(AutostartFilePath());
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(entry.contains("\nExec=\"/opt/Zunaro 1/bin/zunaro\"\n")) << entry.toStdString();

    ASSERT_TRUE(DisableAutostart(&error)) << error.toStdString();
    EXPECT_FALSE(AutostartEnabled());
    EXPECT_FALSE(QFileInfo::exists(AutostartFilePath()));
    EXPECT_TRUE(DisableAutostart(&error)) << "a missing entry is already disabled";
}

// What the desktop's own startup settings write when the user switches the entry off.
TEST_F(Autostart, EntrySwitchedOffByTheDesktopIsNotEnabled)
{
    for (const char* line : {"Hidden=true\n", "X-GNOME-Autostart-enabled=false\n"}) {
        ASSERT_TRUE(EnableAutostart(QStringLiteral("/usr/bin/zunaro"), nullptr));
        QFile file(AutostartFilePath());
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(line);
        file.close();
        EXPECT_FALSE(AutostartEnabled()) << line;
    }
}

// Reserved characters are quoted and escaped twice: once for the command line, once for the
// entry's string value.
TEST_F(Autostart, ExecValueQuotesReservedCharacters)
{
    const struct
    {
        const char* program;
        const char* exec;
    } cases[] = {
        {"/usr/bin/zunaro", "/usr/bin/zunaro"},
        {"/home/a b/zunaro", "\"/home/a b/zunaro\""},
        {"/home/x$y/zu\"n`a", "\"/home/x\\\\$y/zu\\\\\"n\\\\`a\""},
        {"/home/back\\slash", "\"/home/back\\\\\\\\slash\""},
        {"/home/100%/zunaro", "/home/100%%/zunaro"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DesktopExecValue(QString::fromUtf8(c.program)).toStdString(), c.exec)
            << c.program;
    }
}

TEST_F(Autostart, UnwritableFolderReportsTheError)
{
    QString error;
    // The folder's place is taken by a file: nothing can be written there.
    WriteBytes(AutostartFolder(), "not a folder");
    EXPECT_FALSE(EnableAutostart(QStringLiteral("/usr/bin/zunaro"), &error));
    EXPECT_TRUE(error.contains(AutostartFilePath())) << error.toStdString();
    QFile::remove(AutostartFolder());

    // An entry that cannot be removed (a folder in its place) keeps Disable from claiming
    // success.
    QDir().mkpath(AutostartFilePath() + QStringLiteral("/keep"));
    error.clear();
    EXPECT_FALSE(DisableAutostart(&error));
    EXPECT_FALSE(error.isEmpty());
}

// A folder without write permission leaves the old entry untouched.
TEST_F(Autostart, ReadOnlyFolderKeepsTheOldEntry)
{
    QString error;
    ASSERT_TRUE(EnableAutostart(QStringLiteral("/usr/bin/zunaro"), &error));
    QFile::setPermissions(AutostartFolder(), QFile::ReadOwner | QFile::ExeOwner);
    if (QFileInfo(AutostartFolder()).isWritable()) {
        QFile::setPermissions(AutostartFolder(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "running with the right to write into read-only folders";
    }
    error.clear();
    EXPECT_FALSE(EnableAutostart(QStringLiteral("/usr/local/bin/zunaro"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(ReadBytes(AutostartFilePath()).contains("Exec=/usr/bin/zunaro\n"))
        << "the old entry was damaged";
    EXPECT_FALSE(DisableAutostart(&error));
    EXPECT_TRUE(AutostartEnabled());
    QFile::setPermissions(AutostartFolder(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
