#include "platform/PrinterSetup.h"

#include <csignal>
#include <cstdint>

#include <grp.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/Socket.h"
#include "support/PrivateCupsd.h"
#include "support/TestSupport.h"

// QProcess starts its children with a vfork-style clone, which the thread sanitizer counts as a
// thread started after a fork; the child only execs, so it is let live.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options()
{
    return "die_after_fork=0";
}
#endif

namespace {

struct Result
{
    bool reported = false;
    PrinterSetupOutcome outcome = PrinterSetupOutcome::Failed;
    QString reason;
};

// Runs one setup to its end with the caller's event loop turning, as the window's does.
Result RunSetup(CPrinterInstaller& installer, bool checkFirst, std::uint16_t port,
                int timeoutMs = 60000)
{
    Result result;
    QEventLoop loop;
    QObject::connect(&installer, &CPrinterInstaller::finished, &loop,
                     [&](PrinterSetupOutcome outcome, const QString& reason) {
                         result = {true, outcome, reason};
                         loop.quit();
                     });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (checkFirst) {
        installer.StartUnlessPresent(port);
    } else {
        installer.Start(port);
    }
    EXPECT_TRUE(installer.IsRunning()) << "the setup finished on the caller's thread";
    loop.exec();
    return result;
}

// Accepts one connection on 127.0.0.1:port and returns everything sent until it closes.
QByteArray ReceiveOneJob(SOCKET listener, int timeoutMs)
{
    QByteArray data;
    if (!WaitReadable(listener, timeoutMs)) {
        return data;
    }
    const SOCKET s = Accept(listener, nullptr);
    SetNonBlocking(s, false);
    char buffer[4096];
    while (WaitReadable(s, timeoutMs)) {
        const long n = Recv(s, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        data.append(buffer, static_cast<int>(n));
    }
    closesocket(s);
    return data;
}

} // namespace

// The queue is created (lpadmin found in /usr/sbin, outside a normal user's PATH), found again
// in any letter case, and carries UTF-8 text unchanged and without margins to the listener.
TEST(PrinterSetup, CreatesQueueThatDeliversUtf8Jobs)
{
    PrivateCupsd cupsd(false);
    ASSERT_TRUE(cupsd.up());
    QString error;
    EXPECT_FALSE(FindPrinterQueue(QStringLiteral("Generic_Text_Only"),
                                  QStringLiteral("Generic / Text Only"), &error));
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();

    const SOCKET listener = CreateTcpSocket();
    ASSERT_EQ(Bind(listener, {0x7f000001, 0}), 0);
    ASSERT_EQ(Listen(listener, 4), 0);
    const std::uint16_t port = LocalAddress(listener).port;

    CPrinterInstaller installer;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "/nonexistent");
    const Result setup = RunSetup(installer, true, port);
    qputenv("PATH", path);
    ASSERT_TRUE(setup.reported);
    EXPECT_EQ(setup.outcome, PrinterSetupOutcome::Installed) << setup.reason.toStdString();

    for (const auto& [name, description] :
         {std::pair{"generic_text_only", ""}, std::pair{"", "GENERIC / text only"}}) {
        EXPECT_TRUE(FindPrinterQueue(QLatin1String(name), QLatin1String(description), &error))
            << name << description;
    }
    EXPECT_EQ(RunSetup(installer, true, port).outcome, PrinterSetupOutcome::AlreadyExists);
    // A queue with an empty description does not match an empty description.
    QProcess::execute(CPrinterInstaller::ResolveProgram(QStringLiteral("lpadmin")),
                      {QStringLiteral("-p"), QStringLiteral("Bare"), QStringLiteral("-D"),
                       QString(), QStringLiteral("-v"), QStringLiteral("socket://127.0.0.1:1/")});
    EXPECT_FALSE(FindPrinterQueue(QStringLiteral("Missing"), QString(), &error));

    const QByteArray text = QStringLiteral("ALARM Überhitzung 温度 Kessel 3\n").toUtf8();
    QProcess lp;
    lp.start(QStringLiteral("lp"), {QStringLiteral("-d"), QStringLiteral("Generic_Text_Only")});
    lp.write(text);
    lp.closeWriteChannel();
    ASSERT_TRUE(lp.waitForFinished(10000));
    ASSERT_EQ(lp.exitCode(), 0) << lp.readAllStandardError().toStdString();

    const QByteArray job = ReceiveOneJob(listener, 20000);
    closesocket(listener);
    // The text filter ends lines with CR LF and the page with a form feed, which the alarm
    // text rules trim off again.
    EXPECT_EQ(job.toHex(' ').toStdString(), (text.chopped(1) + "\r\n\f").toHex(' ').toStdString());
}

// Every way the setup can go wrong is reported as such, with the reason; never as success.
TEST(PrinterSetup, FailuresAreReportedWithTheirReason)
{
    // A scheduler that cannot be reached is an error, not "no such queue".
    qputenv("CUPS_SERVER", QStringLiteral("127.0.0.1:%1").arg(FreePort()).toUtf8());
    QString error;
    EXPECT_FALSE(FindPrinterQueue(QStringLiteral("Generic_Text_Only"), QString(), &error));
    EXPECT_FALSE(error.isEmpty());

    PrivateCupsd cupsd(true);
    ASSERT_TRUE(cupsd.up());
    CPrinterInstaller installer;

    const QString group = u'\'' + QString::fromLocal8Bit(::getgrgid(::getgid())->gr_name) + u'\'';
    const struct
    {
        const char* program;
        bool freeze; // a scheduler that never answers: the run is ended, the caller not held
        PrinterSetupOutcome outcome;
        QStringList reasonParts;
    } cases[] = {
        // Refused for want of rights: lpadmin's own words and the group that grants the right.
        {"lpadmin", false, PrinterSetupOutcome::Failed, {"Unauthorized", group}},
        {"/bin/false", false, PrinterSetupOutcome::Failed, {"exit status 1"}},
        {"/nonexistent/lpadmin",
         false,
         PrinterSetupOutcome::NotStartable,
         {"/nonexistent/lpadmin"}},
        {"lpadmin", true, PrinterSetupOutcome::Failed, {"did not finish"}},
    };
    for (const auto& c : cases) {
        installer.SetLpadminProgram(QString::fromLatin1(c.program));
        installer.SetTimeoutMs(c.freeze ? 1500 : 120000);
        if (c.freeze) {
            cupsd.Freeze();
        }
        const Result r = RunSetup(installer, false, 9100);
        cupsd.Resume();
        EXPECT_EQ(r.outcome, c.outcome) << c.program;
        for (const QString& part : c.reasonParts) {
            EXPECT_TRUE(r.reason.contains(part)) << r.reason.toStdString();
        }
        // lpadmin's warning about drivers is no reason for an answer it gave.
        EXPECT_TRUE(c.freeze || !r.reason.contains(QLatin1String("deprecated")))
            << r.reason.toStdString();
    }
    EXPECT_FALSE(FindPrinterQueue(QStringLiteral("Generic_Text_Only"),
                                  QStringLiteral("Generic / Text Only"), nullptr));
}
