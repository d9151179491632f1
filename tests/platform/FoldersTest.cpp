#include <QDir>

#include <gtest/gtest.h>

#include "platform/Folders.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

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
