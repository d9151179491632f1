#include <cstdlib>

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include "platform/Folders.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

namespace {

// Sets (a null value: unsets) an environment variable for the scope, then restores it.
struct ScopedEnv
{
    ScopedEnv(const char* name, const QString& value) : m_name(name), m_saved(qgetenv(name))
    {
        value.isNull() ? qunsetenv(name) : qputenv(name, value.toLocal8Bit());
    }
    ~ScopedEnv() { m_saved.isNull() ? qunsetenv(m_name) : qputenv(m_name, m_saved); }
    const char* m_name;
    const QByteArray m_saved;
};

} // namespace

TEST(Folders, DataFolder_FromZunaroHomeCreated)
{
    const QString home = TestHome() + "/home-a/deeper";
    QDir(home).removeRecursively();
    ScopedEnv env("ZUNARO_HOME", home + "/");
    EXPECT_EQ(DataFolder(), home);
    EXPECT_TRUE(QDir(home).exists());
}

TEST(Folders, DataFolder_XdgDataHomeWhenZunaroHomeUnsetOrEmpty)
{
    const QString xdg = TestHome() + "/xdg-data";
    ScopedEnv data("XDG_DATA_HOME", xdg);
    for (const QString& value : {QString(), QString("")}) {
        ScopedEnv home("ZUNARO_HOME", value);
        EXPECT_EQ(DataFolder(), xdg + "/Zunaro");
        EXPECT_TRUE(QDir(xdg + "/Zunaro").exists());
    }
}

TEST(Folders, ResourceFolder_EnvironmentThenProgramFolder)
{
    EXPECT_EQ(ProgramFolder(), QCoreApplication::applicationDirPath());
    {
        ScopedEnv env("ZUNARO_RESOURCES", TestHome() + "/res//");
        EXPECT_EQ(ResourceFolder(), TestHome() + "/res");
    }
    ScopedEnv env("ZUNARO_RESOURCES", QString());
    EXPECT_EQ(ResourceFolder(), ProgramFolder()); // a build tree: tests/ is not bin/
}
