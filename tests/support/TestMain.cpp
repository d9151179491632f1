#include <cstdlib>

#include <QCoreApplication>
#ifdef ZUNARO_TEST_WIDGETS
#include <QApplication>
#endif
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

static QString g_home;

QString TestHome()
{
    return g_home;
}

QString FreshFolder(const QString& name)
{
    const QString folder = g_home + u'/' + name;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    return folder;
}

// Every test program runs in a fresh temporary home: no test reads or writes the user's
// real profile or data, and nothing needs a display.
int main(int argc, char** argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/zunaro-test-XXXXXX"));
    if (!home.isValid()) {
        return 2;
    }
    g_home = home.path();
    const auto set = [](const char* name, const QString& value) {
        QDir().mkpath(value);
        setenv(name, value.toLocal8Bit().constData(), 1);
    };
    set("XDG_CONFIG_HOME", g_home + QStringLiteral("/config"));
    set("XDG_DATA_HOME", g_home + QStringLiteral("/data"));
    set("XDG_RUNTIME_DIR", g_home + QStringLiteral("/runtime"));
    set("ZUNARO_HOME", g_home + QStringLiteral("/zunaro"));
    QFile::setPermissions(g_home + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

#ifdef ZUNARO_TEST_WIDGETS
    QApplication app(argc, argv); // tests of windows and views
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
