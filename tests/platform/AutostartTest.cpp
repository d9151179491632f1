#include "platform/Autostart.h"

#include <utility>

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
        QFile::setPermissions(Folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir(Folder()).removeRecursively();
        QFile::remove(Folder());
    }
    void TearDown() override { SetUp(); }
    static QString Folder() { return QFileInfo(AutostartFilePath()).absolutePath(); }
};

} // namespace

// The entry is written and removed again; one the desktop's own startup settings switched off
// does not count as enabled.
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
    EXPECT_TRUE(DisableAutostart(&error)) << "a missing entry is already disabled";

    for (const char* line : {"Hidden=true\n", "X-GNOME-Autostart-enabled=false\n"}) {
        ASSERT_TRUE(EnableAutostart(QStringLiteral("/usr/bin/zunaro"), nullptr));
        WriteBytes(AutostartFilePath(), ReadBytes(AutostartFilePath()) + line);
        EXPECT_FALSE(AutostartEnabled()) << line;
    }
}

// Reserved characters are quoted and escaped twice: once for the command line, once for the
// entry's string value.
TEST_F(Autostart, ExecValueQuotesReservedCharacters)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/bin/zunaro", "/usr/bin/zunaro"},
        {"/home/a b/zunaro", "\"/home/a b/zunaro\""},
        {"/home/x$y/zu\"n`a", "\"/home/x\\\\$y/zu\\\\\"n\\\\`a\""},
        {"/home/back\\slash", "\"/home/back\\\\\\\\slash\""},
        {"/home/100%/zunaro", "/home/100%%/zunaro"},
    };
    for (const auto& [program, exec] : cases) {
        EXPECT_EQ(DesktopExecValue(QString::fromUtf8(program)).toStdString(), exec) << program;
    }
}

// What cannot be written or removed is reported, never claimed as done, and a failed write
// leaves the old entry whole.
TEST_F(Autostart, RefusalsAreReportedAndKeepTheOldEntry)
{
    QString error;
    WriteBytes(Folder(), "not a folder"); // the folder's place is taken by a file
    EXPECT_FALSE(EnableAutostart(QStringLiteral("/usr/bin/zunaro"), &error));
    EXPECT_TRUE(error.contains(AutostartFilePath())) << error.toStdString();
    QFile::remove(Folder());
    QDir().mkpath(AutostartFilePath() + QStringLiteral("/keep")); // a folder in the entry's place
    error.clear();
    EXPECT_FALSE(DisableAutostart(&error));
    EXPECT_FALSE(error.isEmpty());
    QDir(Folder()).removeRecursively();

    ASSERT_TRUE(EnableAutostart(QStringLiteral("/usr/bin/zunaro"), &error));
    QFile::setPermissions(Folder(), QFile::ReadOwner | QFile::ExeOwner);
    if (QFileInfo(Folder()).isWritable()) {
        GTEST_SKIP() << "running with the right to write into read-only folders";
    }
    error.clear();
    EXPECT_FALSE(EnableAutostart(QStringLiteral("/usr/local/bin/zunaro"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(ReadBytes(AutostartFilePath()).contains("Exec=/usr/bin/zunaro\n"));
    EXPECT_FALSE(DisableAutostart(&error));
    EXPECT_TRUE(AutostartEnabled());
}
