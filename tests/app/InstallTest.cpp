#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSettings>

#include "app/ProgramProcess.h"
#include "support/TestSupport.h"

namespace {

struct Result
{
    int code = -1; // -1: not started, crashed or timed out
    QString out;
};

Result Exec(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Result r;
    if (p.waitForFinished(180000) && p.exitStatus() == QProcess::NormalExit) {
        r.code = p.exitCode();
    }
    r.out = QString::fromLocal8Bit(p.readAll());
    return r;
}

const int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The built tree installed into a temporary prefix, and packaged and unpacked, once for all
// tests (cpack installs again, into its own staging folder; neither builds).
class Installed : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_build = QFileInfo(qEnvironmentVariable("ZUNARO_BINARY")).absolutePath();
        s_prefix = FreshFolder(u"prefix"_qs);
        s_install = Exec(u"cmake"_qs, {u"--install"_qs, s_build, u"--prefix"_qs, s_prefix});
        const QString out = FreshFolder(u"deb"_qs);
        s_cpack =
            Exec(u"cpack"_qs, {u"--config"_qs, s_build + u"/CPackConfig.cmake"_qs, u"-B"_qs, out});
        const QStringList debs = QDir(out).entryList({u"zunaro_*.deb"_qs}, QDir::Files);
        s_deb = debs.size() == 1 ? out + u'/' + debs[0] : QString();
        s_root = FreshFolder(u"root"_qs);
        Exec(u"dpkg-deb"_qs, {u"-x"_qs, s_deb, s_root});
    }
    void SetUp() override
    {
        ASSERT_TRUE(qEnvironmentVariableIsSet("ZUNARO_BINARY")) << "run through ctest";
        ASSERT_EQ(s_install.code, 0) << s_install.out.toStdString();
        ASSERT_EQ(s_cpack.code, 0) << s_cpack.out.toStdString();
        ASSERT_FALSE(s_deb.isEmpty());
    }
    static QString Field(const char* name)
    {
        return Exec(u"dpkg-deb"_qs, {u"-f"_qs, s_deb, QString::fromLatin1(name)}).out.trimmed();
    }

    static inline QString s_build, s_prefix, s_deb, s_root;
    static inline Result s_install, s_cpack;
};

} // namespace

TEST_F(Installed, Layout_SameInPrefixAndPackage_IconsAtTheirSize)
{
    QStringList files{u"bin/zunaro"_qs,
                      u"share/zunaro/Ding.wav"_qs,
                      u"share/zunaro/Help/Zunaro-En.pdf"_qs,
                      u"share/applications/zunaro.desktop"_qs,
                      u"share/metainfo/org.zunaro.Zunaro.metainfo.xml"_qs,
                      u"share/icons/hicolor/scalable/apps/zunaro.svg"_qs,
                      u"lib/systemd/user/zunaro.service"_qs,
                      u"share/doc/zunaro/README.md"_qs};
    for (const QString& qm : QDir(s_build + u"/Lang"_qs).entryList({u"*.qm"_qs})) {
        files << u"share/zunaro/Lang/"_qs + qm;
    }
    for (int size : kIconSizes) {
        files << QStringLiteral("share/icons/hicolor/%1x%1/apps/zunaro.png").arg(size);
        EXPECT_EQ(QImage(s_prefix + u'/' + files.last()).size(), QSize(size, size));
    }
    const QString listing = Exec(u"dpkg-deb"_qs, {u"-c"_qs, s_deb}).out;
    for (const QString& file : files) {
        EXPECT_TRUE(QFileInfo(s_prefix + u'/' + file).isFile()) << file.toStdString();
        EXPECT_TRUE(listing.contains(u" ./usr/"_qs + file + u'\n')) << file.toStdString();
    }
}

TEST_F(Installed, DesktopFiles_ValidAndPointingAtTheProgram)
{
    const QString apps = s_prefix + u"/share/applications/zunaro.desktop"_qs;
    const Result desktop = Exec(u"desktop-file-validate"_qs, {apps});
    EXPECT_EQ(desktop.code, 0) << desktop.out.toStdString();
    EXPECT_EQ(desktop.out, QString());
    // The metainfo's launchable must name the installed launcher: validate-tree checks it.
    const Result meta = Exec(u"appstreamcli"_qs, {u"validate-tree"_qs, u"--no-net"_qs, s_root});
    EXPECT_EQ(meta.code, 0) << meta.out.toStdString();
    const Result unit = Exec(u"systemd-analyze"_qs,
                             {u"verify"_qs, s_prefix + u"/lib/systemd/user/zunaro.service"_qs});
    EXPECT_EQ(unit.code, 0) << unit.out.toStdString();
    const QSettings entry(apps, QSettings::IniFormat);
    EXPECT_TRUE(QFileInfo::exists(s_prefix + u"/share/icons/hicolor/scalable/apps/"_qs +
                                  entry.value(u"Desktop Entry/Icon"_qs).toString() + u".svg"_qs));
}

TEST_F(Installed, Package_ControlFieldsAndCommandLine)
{
    const QString version = Field("Version");
    EXPECT_TRUE(s_deb.endsWith(QStringLiteral("/zunaro_%1_amd64.deb").arg(version)))
        << s_deb.toStdString();
    // Libraries from dpkg-shlibdeps, with versions; what is loaded or started at run time by name.
    const QString depends = Field("Depends");
    for (const char* dep :
         {"libc6 (>=", "libqt6core6 (>=", "libqt6widgets6 (>=", "libssl3 (>=", "libasound2 (>=",
          "libespeak-ng1 (>=", "libcups2 (>=", "libqt6svg6", "espeak-ng-data"}) {
        EXPECT_TRUE(depends.contains(QString::fromLatin1(dep)))
            << dep << " in " << depends.toStdString();
    }
    const QString recommends = Field("Recommends");
    EXPECT_TRUE(recommends.contains(u"cups-client"_qs) && recommends.contains(u"cups-filters"_qs));

    // The packaged program answers on its command line without a display.
    const QString program = s_root + u"/usr/bin/zunaro"_qs;
    EXPECT_EQ(Exec(program, {u"--version"_qs}).out, u"zunaro "_qs + version + u'\n');
    EXPECT_TRUE(Exec(program, {u"--help"_qs}).out.contains(u"--headless"_qs));
    const Result wrong = Exec(program, {u"--headles"_qs});
    EXPECT_EQ(wrong.code, 2);
    EXPECT_TRUE(wrong.out.contains(u"--headles'"_qs)) << wrong.out.toStdString();
}

// The packaged unit's command line, started as systemd starts it, captures a print job and
// ends in order on the unit's stop signal.
TEST_F(Installed, Service_CapturesJobAndStopsOnSigterm)
{
    const QSettings unit(s_root + u"/usr/lib/systemd/user/zunaro.service"_qs, QSettings::IniFormat);
    ASSERT_EQ(unit.value(u"Service/ExecStart"_qs), u"/usr/bin/zunaro --headless"_qs);
    EXPECT_EQ(unit.value(u"Service/KillSignal"_qs), u"SIGTERM"_qs);
    const int stopMs = unit.value(u"Service/TimeoutStopSec"_qs).toInt() * 1000;

    qputenv("ZUNARO_BINARY", (s_root + u"/usr/bin/zunaro"_qs).toLocal8Bit());
    WriteProfileString("Ports", "COM1", "/nonexistent/zunaro-modem");
    const std::uint16_t port = FreePort();
    Program program(port);
    ASSERT_TRUE(program.WaitForLine(u"Succeed to initialize Zunaro."_qs));
    ASSERT_TRUE(SendJob(port, "UNIT ALARM\r\n"));
    EXPECT_TRUE(program.WaitForLine(u"UNIT ALARM"_qs));
    program.Process().terminate();
    ASSERT_TRUE(program.Process().waitForFinished(stopMs));
    EXPECT_EQ(program.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.Process().exitCode(), 0); // not a failure: no restart
    EXPECT_TRUE(RunLogText().contains(u"Quit Zunaro normally!"_qs));
}
