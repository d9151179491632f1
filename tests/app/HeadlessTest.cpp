#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include "app/ProgramProcess.h"
#include "mail/MailTestSupport.h"
#include "platform/Outbox.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/Socket.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "sms/GsmModem.h"
#include "sms/ModemSim.h"
#include "support/TestSupport.h"

namespace {

// No test touches a serial device of the machine: COM1 points nowhere unless a test sets
// the modem simulator there.
class Headless : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteProfileString("Ports", "COM1", "/nonexistent/zunaro-modem");
        DeleteProfileValue(kProfileSmsSendTimeout.section, kProfileSmsSendTimeout.key);
        QDir(Journal()).removeRecursively();
        QFile::remove(Journal());
    }
    static QString Journal() { return qEnvironmentVariable("ZUNARO_HOME") + u"/outbox.journal"_qs; }
    // Makes the outbox impossible to open (a folder stands at its name) and returns the
    // error line the program shows for it.
    static QString BlockOutbox()
    {
        EXPECT_TRUE(QDir().mkpath(Journal()));
        return FormatText(LoadString(kIdsOutboxCannotOpen), {Journal(), qt_error_string(EISDIR)});
    }
};

} // namespace

TEST_F(Headless, PrintJob_ShowsAlarmLineAndEndsOnSigterm)
{
    // Year-month-day and a 24-hour clock from the profile's regional settings.
    WriteProfileInt(kProfileIntlDateOrder, 2);
    WriteProfileString(kProfileIntlDateSeparator, "-");
    WriteProfileString(kProfileIntlShortDate, "yyyy-MM-dd");
    WriteProfileInt(kProfileIntlClock, 1);
    WriteProfileInt(kProfileIntlHourLeadingZero, 1);
    const std::uint16_t port = FreePort();
    Program program(port);
    ASSERT_TRUE(program.Process().waitForStarted());
    ASSERT_TRUE(program.WaitForLine(u"Succeed to initialize Zunaro."_qs));
    ASSERT_TRUE(SendJob(port, "ALARM 1\r\n\f"));
    ASSERT_TRUE(SendJob(port, "Temp\xC3\xA9rature \xC3\xA9lev\xC3\xA9\x65 1\r\n"));
    EXPECT_TRUE(program.WaitForLine(u"ALARM"_qs));
    EXPECT_TRUE(program.WaitForLine(u"Température élevée"_qs));

    // Lines are "date,time,text" in the profile's formats.
    const QString first = program.Output().split(u'\n').first();
    EXPECT_TRUE(QRegularExpression(u"^\\d{4}-\\d{2}-\\d{2},\\d{2}:\\d{2}:\\d{2},"_qs)
                    .match(first)
                    .hasMatch())
        << first.toStdString();

    program.Process().terminate(); // SIGTERM
    ASSERT_TRUE(program.Process().waitForFinished(15000));
    EXPECT_EQ(program.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.Process().exitCode(), 0);
    // Nothing listens any more.
    EXPECT_EQ(ConnectLoopback(port), INVALID_SOCKET);

    // The run log holds the shown lines and the closing line, in UTF-16 with a BOM.
    const QStringList logs = QDir(qEnvironmentVariable("ZUNARO_HOME")).entryList({"*.log"});
    ASSERT_EQ(logs.size(), 1);
    QFile log(qEnvironmentVariable("ZUNARO_HOME") + u'/' + logs[0]);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray bytes = log.readAll();
    ASSERT_TRUE(bytes.startsWith("\xFF\xFE"));
    const QString text = QString::fromUtf16(
        reinterpret_cast<const char16_t*>(bytes.constData() + 2), (bytes.size() - 2) / 2);
    EXPECT_TRUE(text.contains(u",ALARM\r\n"_qs));
    EXPECT_TRUE(text.contains(u"Quit Zunaro normally!"_qs));
}

TEST_F(Headless, ListenerAddress_NarrowedOrRefused)
{
    const std::uint16_t port = FreePort();
    WriteProfileString(kProfileListenerAddress, u"not an address"_qs);
    {
        Program program(port);
        EXPECT_TRUE(program.WaitForLine(u"Failed to initialize Zunaro."_qs));
        EXPECT_EQ(ConnectLoopback(port), INVALID_SOCKET);
        ::kill(static_cast<pid_t>(program.Process().processId()), SIGINT);
        ASSERT_TRUE(program.Process().waitForFinished(15000));
        EXPECT_EQ(program.Process().exitCode(), 0);
    }
    WriteProfileString(kProfileListenerAddress, u"127.0.0.1"_qs);
    {
        Program program(port);
        EXPECT_TRUE(program.WaitForLine(u"Succeed to initialize Zunaro."_qs));
        ASSERT_TRUE(SendJob(port, "local only\r\n"));
        EXPECT_TRUE(program.WaitForLine(u"local only"_qs));
    }
    WriteProfileString(kProfileListenerAddress, QString());
}

TEST_F(Headless, SettingsFile_NamedOrChosenAtStart)
{
    // No file named: the first settings file of the data folder is opened.
    const QString path = qEnvironmentVariable("ZUNARO_HOME") + u"/site.znr"_qs;
    WriteSettingsFile(path, 0, u"a@example.org"_qs, {}, {}, u"op@example.org"_qs);
    {
        Program program(FreePort());
        EXPECT_TRUE(program.WaitForLine(u"Load '"_qs + path + u"' successfully!"_qs));
    }
    // A named file that cannot be read: an error line, and the program runs on.
    const QString missing = TestHome() + u"/missing.znr"_qs;
    Program program(FreePort(), {missing});
    EXPECT_TRUE(program.WaitForLine(u"Failed to load '"_qs + missing + u"'"_qs));
    EXPECT_TRUE(program.WaitForLine(u"Succeed to initialize Zunaro."_qs));
}

TEST_F(Headless, VoiceSwitch_AlarmIsSpokenIntoTheAudioOutput)
{
    // The sound output is a file: what the program says lands in it.
    const QString raw = TestHome() + u"/spoken.raw"_qs;
    const QString conf = TestHome() + u"/asound.conf"_qs;
    WriteBytes(conf, QStringLiteral("pcm.null { type null }\n"
                                    "pcm.!default { type file slave.pcm \"null\" file \"%1\" "
                                    "format \"raw\" }\n")
                         .arg(raw)
                         .toUtf8());
    const QString path = TestHome() + u"/voice.znr"_qs;
    WriteSettingsFile(path, 1);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ALSA_CONFIG_PATH", conf);
    const std::uint16_t port = FreePort();
    Program program(port, {path}, env);
    ASSERT_TRUE(program.WaitForLine(u"Succeed to initialize voice engine."_qs));
    ASSERT_TRUE(program.WaitForLine(u"Succeed to initialize Zunaro."_qs));
    ASSERT_TRUE(SendJob(port, "Pump failure 1\r\n"));
    ASSERT_TRUE(program.WaitForLine(u"Pump failure"_qs));
    // About a second of 16-bit speech, most of it not silent.
    EXPECT_TRUE(WaitUntil([&] { return QFileInfo(raw).size() > 16000; }, 20000));
}

TEST_F(Headless, Recipients_AlarmMailReachesTheServer)
{
    SmtpPeer server;
    ASSERT_TRUE(server.ok());
    WriteProfileString(kProfileMailServer, "127.0.0.1");
    WriteProfileInt(kProfileMailPort, server.plainPort);
    const QString path = TestHome() + u"/mail.znr"_qs;
    WriteSettingsFile(path, 0, SmtpPeer::kUser, SmtpPeer::kPassword, {}, u"op@example.org"_qs);
    const QString blocked = BlockOutbox(); // reported; the alarm goes out from memory
    const std::uint16_t port = FreePort();
    Program program(port, {path});
    EXPECT_TRUE(program.WaitForLine(blocked));
    ASSERT_TRUE(program.WaitForLine(u"Succeed to initialize Zunaro."_qs));
    ASSERT_TRUE(SendJob(port, "Boiler pressure 1\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return server.Messages().size() == 1; }, 20000));
    const QJsonObject mail = server.Messages()[0];
    EXPECT_TRUE(mail.value("content").toString().contains("Boiler pressure"));
    EXPECT_TRUE(
        program.WaitForLine(u"Send 'Boiler pressure' to 'op@example.org' successfully!"_qs));
}

// Alarms still waiting when the program is killed (the modem holds the first SMS without
// answering, the mail server accepts and never answers) are sent by the next run once both
// peers work: each once, the SMS in flight at the kill at most twice. A record torn at the
// end of the journal costs that record only, and a backlog larger than the modem's queue
// goes out in the same run instead of being refused.
TEST_F(Headless, Outbox_KilledWithAlarmsWaiting_NextRunSendsThem)
{
    constexpr int kAlarms = 20;
    const QString home = qEnvironmentVariable("ZUNARO_HOME");
    // What the outbox holds: a copy is read, a running program's journal is left alone.
    const auto stored = [&] {
        const QString peek = FreshFolder(u"peek"_qs);
        QFile::copy(home + u"/outbox.journal"_qs, peek + u"/outbox.journal"_qs);
        COutbox box(peek, {});
        QStringList texts;
        for (const OutboxMessage& m : box.Open() ? box.Pending() : std::vector<OutboxMessage>{}) {
            texts << m.text;
        }
        return texts;
    };
    const auto sent = [](const QByteArray& transcript) {
        QStringList texts;
        for (const auto& [header, text] : SentParts(transcript)) {
            texts << text;
        }
        return texts;
    };
    QStringList alarms;
    for (int i = 1; i <= kAlarms; ++i) {
        alarms << u"Zone %1 fire"_qs.arg(i);
    }
    SmtpPeer server;
    ASSERT_TRUE(server.ok());
    const QString path = TestHome() + u"/outbox.znr"_qs;
    WriteSettingsFile(path, 0, SmtpPeer::kUser, SmtpPeer::kPassword, u"13800000001"_qs,
                      u"op@example.org"_qs);
    WriteProfileString(kProfileMailServer, "127.0.0.1");
    WriteProfileInt(kProfileSmsSendTimeout, 600000); // the SMS in flight is not tried again
    ModemSim::Prepare();
    const std::uint16_t port = FreePort();
    QByteArray killedRun; // what the modem took before the kill
    {
        ModemSim sim(QStringList{u"PDU=silent"_qs});
        // Connections wait in the backlog of a socket nobody accepts on (no thread here:
        // the sanitizer refuses one after the program's start).
        const SOCKET silent = CreateTcpSocket();
        Bind(silent, SockAddrIn{0x7F000001, 0});
        ASSERT_NE(Listen(silent, 8), SOCKET_ERROR);
        WriteProfileInt(kProfileMailPort, LocalAddress(silent).port);
        Program first(port, {path});
        ASSERT_TRUE(first.WaitForLine(u"Succeed to initialize Zunaro."_qs));
        for (const QString& alarm : alarms) {
            ASSERT_TRUE(SendJob(port, alarm.toUtf8() + "\r\n"));
            ASSERT_TRUE(first.WaitForLine(alarm));
        }
        ASSERT_TRUE(WaitUntil(
            [&] {
                return stored().size() == 2 * kAlarms && ModemSim::Transcript().contains('\x1a');
            },
            30000));
        first.Process().kill(); // SIGKILL
        ASSERT_TRUE(first.Process().waitForFinished());
        killedRun = ModemSim::Transcript();
        closesocket(silent);
    }
    // Between the runs: a backlog that overfills the modem's queue, its last record torn.
    const int backlog = CGsmModem::kSendRingSize - kAlarms + 4;
    {
        COutbox box(home, {});
        ASSERT_TRUE(box.Open());
        for (int i = 0; i < backlog; ++i) {
            ASSERT_TRUE(box.Append(OutboxChannel::Sms, u"13800000001"_qs, u"Old %1"_qs.arg(i)));
        }
    }
    const QByteArray journal = ReadBytes(home + u"/outbox.journal"_qs);
    WriteBytes(home + u"/outbox.journal"_qs, journal.left(journal.size() - 3));

    WriteProfileInt(kProfileMailPort, server.plainPort);
    ModemSim sim;
    Program second(port, {path});
    EXPECT_TRUE(second.WaitForLine(
        u"Resending %1 alarm messages left from the last run."_qs.arg(2 * kAlarms + backlog - 1)));
    QStringList olds; // the backlog without its torn record, sent after the alarms
    for (int i = 0; i + 1 < backlog; ++i) {
        olds << u"Old %1"_qs.arg(i);
    }
    const QStringList expected = alarms + olds + QStringList{u"New fire"_qs};
    ASSERT_TRUE(second.WaitForLine(u"Succeed to initialize Zunaro."_qs));
    ASSERT_TRUE(SendJob(port, "New fire\r\n")); // queued behind the backlog, not refused
    EXPECT_TRUE(second.WaitForLine(u"Send 'New fire' to 'op@example.org' successfully!"_qs, 60000));
    EXPECT_TRUE(second.WaitForLine(u"短信猫向号码8613800000001发送消息：New fire成功！"_qs, 60000));
    second.Process().terminate();
    ASSERT_TRUE(second.Process().waitForFinished(15000));
    EXPECT_EQ(second.Output().count(u"is damaged at byte"_qs), 1) << second.Output().toStdString();
    EXPECT_EQ(stored().join(u'|').toStdString(), "");

    const QStringList before = sent(killedRun);
    const QStringList after = sent(ModemSim::Transcript());
    QStringList bodies;
    for (const QJsonObject& mail : server.Messages()) {
        bodies << mail.value("content").toString();
    }
    // Oldest first, each once: nothing garbled, the torn record not at all.
    EXPECT_EQ(after.join(u'|').toStdString(), expected.join(u'|').toStdString());
    int inFlight = 0;
    for (const QString& alarm : alarms + QStringList{u"New fire"_qs}) {
        EXPECT_EQ(bodies.filter(alarm + u"\r\n"_qs).size(), 1) << alarm.toStdString();
        inFlight += static_cast<int>(before.count(alarm));
    }
    EXPECT_EQ(inFlight, 1) << before.join(u'|').toStdString();
}

TEST_F(Headless, Recipients_AlarmSmsReachesTheModem)
{
    ModemSim::Prepare();
    ModemSim sim;
    ASSERT_TRUE(sim.Started());
    const QString path = TestHome() + u"/sms.znr"_qs;
    WriteSettingsFile(path, 0, {}, {}, u"13800000001"_qs);
    const QString blocked = BlockOutbox(); // reported; the alarm goes out from memory
    const std::uint16_t port = FreePort();
    Program program(port, {path});
    EXPECT_TRUE(program.WaitForLine(blocked));
    ASSERT_TRUE(program.WaitForLine(u"Succeed to initialize Zunaro."_qs));
    ASSERT_TRUE(SendJob(port, "ALARM 1\r\n\f"));
    // The text as UCS2 to +86 13800000001, through the real serial layer.
    const QByteArray exchange = "AT+CMGS=25\r0891683108000005F011000D91683108000000F1"
                                "0008000A0041004C00410052004D\x1A";
    EXPECT_TRUE(WaitUntil([&] { return ModemSim::Transcript().contains(exchange); }, 60000))
        << ModemSim::Transcript().toStdString();
}

// The listener stops before the channels: every alarm taken in is either sent or reported,
// and the run log holds each outcome. Here the mail server accepts and never answers and the
// modem never appears, so every request is still waiting when SIGTERM comes.
TEST_F(Headless, Shutdown_EveryAlarmHasItsOutcomeInTheRunLog)
{
    ScriptedServer silent(Script{});
    WriteProfileString(kProfileMailServer, "127.0.0.1");
    WriteProfileInt(kProfileMailPort, silent.port);
    const QString path = TestHome() + u"/shutdown.znr"_qs;
    WriteBytes(path,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
               "<SMS ComPort=\"0\" Voice=\"0\" E-Mail=\"alarm@example.org\" Password=\"cHc=\">"
               "\r\n<UserList>\r\n"
               "<GetUserResult Name=\"Op\" Phone=\"13800000001\" Mail=\"op@example.org\"/>\r\n"
               "</UserList>\r\n</SMS>\r\n");
    const std::uint16_t port = FreePort();
    Program program(port, {path});
    ASSERT_TRUE(program.WaitForLine(u"Succeed to initialize Zunaro."_qs));
    const QStringList alarms{u"Alarm one"_qs, u"Alarm two"_qs, u"Alarm three"_qs};
    for (const QString& alarm : alarms) {
        ASSERT_TRUE(SendJob(port, alarm.toUtf8() + "\r\n"));
        ASSERT_TRUE(program.WaitForLine(alarm));
    }
    program.Process().terminate();
    ASSERT_TRUE(program.Process().waitForFinished(15000));
    EXPECT_EQ(program.Process().exitCode(), 0);

    const QStringList logs = QDir(qEnvironmentVariable("ZUNARO_HOME")).entryList({"*.log"});
    ASSERT_EQ(logs.size(), 1);
    const QString log =
        ReadTextLines(qEnvironmentVariable("ZUNARO_HOME") + u'/' + logs[0]).join(u'\n');
    for (const QString& alarm : alarms) {
        EXPECT_TRUE(
            log.contains(u"Send '"_qs + alarm + u"' to 'op@example.org' unsuccessfully!"_qs))
            << alarm.toStdString();
        EXPECT_TRUE(
            QRegularExpression(u"SMS to '[^']*13800000001' not sent.*'"_qs + alarm + u"'"_qs)
                .match(log)
                .hasMatch())
            << alarm.toStdString();
    }
    EXPECT_TRUE(log.endsWith(u"Quit Zunaro normally!"_qs));
}

TEST_F(Headless, SecondStart_RefusedWhileFirstRuns_StaleLockTakenOver)
{
    const std::uint16_t port = FreePort();
    auto first = std::make_unique<Program>(port);
    ASSERT_TRUE(first->WaitForLine(u"Succeed to initialize Zunaro."_qs));
    {
        Program second(port);
        ASSERT_TRUE(second.Process().waitForFinished(10000));
        EXPECT_EQ(second.Process().exitCode(), 1);
        EXPECT_TRUE(
            second.Process().readAllStandardError().contains("Another Zunaro.exe is running!"));
    }
    // The first one is untouched: its run log is still to come and it still takes alarms.
    ASSERT_TRUE(SendJob(port, "still here\r\n"));
    EXPECT_TRUE(first->WaitForLine(u"still here"_qs));

    // A holder that dies without cleaning up leaves its lock file; the next start takes it.
    first->Process().kill(); // SIGKILL
    first->Process().waitForFinished();
    first.reset();
    EXPECT_TRUE(QFile::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/Zunaro.lock"_qs));
    Program third(port);
    EXPECT_TRUE(third.WaitForLine(u"Succeed to initialize Zunaro."_qs));
}
