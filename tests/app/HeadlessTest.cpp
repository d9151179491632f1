#include <gtest/gtest.h>

#include <optional>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "app/ProgramProcess.h"
#include "mail/MailTestSupport.h"
#include "platform/Outbox.h"
#include "platform/Socket.h"
#include "sms/GsmModem.h"
#include "sms/ModemSim.h"

namespace {

// No test touches a serial device of the machine: COM1 points nowhere unless a test sets
// the modem simulator there. Each test starts with an empty outbox.
class Headless : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteProfileString("Ports", "COM1", "/nonexistent/zunaro-modem");
        DeleteProfileValue(kProfileSmsSendTimeout.section, kProfileSmsSendTimeout.key);
        WriteProfileString(kProfileListenerAddress, QString());
        QFile::remove(OutboxJournal());
    }

    bool Start(const QStringList& extra = {},
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        program.emplace(port, extra, env);
        return program->WaitForLine(u"Succeed to initialize Zunaro."_qs);
    }
    bool Alarm(const QString& text)
    {
        return SendJob(port, text.toUtf8() + "\r\n") && program->WaitForLine(text);
    }

    const std::uint16_t port = FreePort();
    std::optional<Program> program;
};

} // namespace

// One run with every channel set up. Lines are "date,time,text" in the profile's formats,
// the listener takes the profile's address, and the voice switch speaks each alarm into the
// sound output (a file here). The listener stops before the channels: every alarm taken in
// is either sent or reported, and the run log holds each outcome. Here the mail server
// accepts and never answers and the modem never appears, so every request is still waiting
// at SIGTERM.
TEST_F(Headless, OneRun_AlarmsShownAndSpoken_AtSigtermEveryOutcomeInTheRunLog)
{
    WriteProfileInt(kProfileIntlDateOrder, 2);
    WriteProfileString(kProfileIntlDateSeparator, "-");
    WriteProfileString(kProfileIntlShortDate, "yyyy-MM-dd");
    WriteProfileInt(kProfileIntlClock, 1);
    WriteProfileInt(kProfileIntlHourLeadingZero, 1);
    WriteProfileString(kProfileListenerAddress, u"127.0.0.1"_qs);
    const QString raw = TestHome() + u"/spoken.raw"_qs;
    const QString conf = TestHome() + u"/asound.conf"_qs;
    WriteBytes(conf, QStringLiteral("pcm.null { type null }\n"
                                    "pcm.!default { type file slave.pcm \"null\" file \"%1\" "
                                    "format \"raw\" }\n")
                         .arg(raw)
                         .toUtf8());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ALSA_CONFIG_PATH", conf);
    ScriptedServer silent(Script{});
    UseMailServer(silent.port);
    ASSERT_TRUE(Start({WriteSettingsFile(TestHome() + u"/run.znr"_qs, 1, u"alarm@example.org"_qs,
                                         "pw", u"13800000001"_qs, u"op@example.org"_qs)},
                      env));
    ASSERT_TRUE(SendJob(port, "ALARM 1\r\n\f"));
    ASSERT_TRUE(SendJob(port, "Temp\xC3\xA9rature \xC3\xA9lev\xC3\xA9\x65 1\r\n"));
    const QStringList alarms{u"ALARM"_qs, u"Température élevée"_qs};
    for (const QString& alarm : alarms) {
        ASSERT_TRUE(program->WaitForLine(alarm));
    }
    EXPECT_TRUE(program->Output().contains(
        QRegularExpression(u"^\\d{4}-\\d{2}-\\d{2},\\d{2}:\\d{2}:\\d{2},"_qs)))
        << program->Output().toStdString();
    // About a second of 16-bit speech.
    EXPECT_TRUE(WaitUntil([&] { return QFileInfo(raw).size() > 16000; }, 20000));

    EXPECT_EQ(program->Stop(), 0);
    const QString log = RunLogText();
    for (const QString& alarm : alarms) {
        EXPECT_TRUE(log.contains(u',' + alarm + u'\n')) << alarm.toStdString();
        EXPECT_TRUE(
            log.contains(u"Send '"_qs + alarm + u"' to 'op@example.org' unsuccessfully!"_qs))
            << alarm.toStdString();
        EXPECT_TRUE(log.contains(
            QRegularExpression(u"SMS to '[^']*13800000001' not sent.*'"_qs + alarm + u"'"_qs)))
            << alarm.toStdString();
    }
    EXPECT_TRUE(log.endsWith(u",Quit Zunaro normally!"_qs)) << log.toStdString();
}

TEST_F(Headless, ListenerAddressUnusable_ReportedAndNothingListens)
{
    WriteProfileString(kProfileListenerAddress, u"not an address"_qs);
    program.emplace(port);
    EXPECT_TRUE(program->WaitForLine(u"Failed to initialize Zunaro."_qs));
    EXPECT_EQ(ConnectLoopback(port), INVALID_SOCKET);
    EXPECT_EQ(program->Stop(), 0);
}

// Alarms still waiting when the program is killed (the modem holds the first SMS without
// answering, the mail server accepts and never answers) are sent by the next run once both
// peers work: each once, the SMS in flight at the kill at most twice. A record torn at the
// end of the journal costs that record only, and a backlog larger than the modem's queue
// goes out in the same run instead of being refused.
TEST_F(Headless, Outbox_KilledWithAlarmsWaiting_NextRunSendsThem)
{
    constexpr int kAlarms = 20;
    // How many messages the outbox holds: a copy is read, a running program's journal is
    // left alone.
    const auto stored = [&] {
        const QString peek = FreshFolder(u"peek"_qs);
        QFile::copy(OutboxJournal(), peek + u"/outbox.journal"_qs);
        COutbox box(peek, {});
        return box.Open() ? box.Pending().size() : std::size_t{0};
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
    const QString path =
        WriteSettingsFile(TestHome() + u"/outbox.znr"_qs, 0, SmtpPeer::kUser, SmtpPeer::kPassword,
                          u"13800000001"_qs, u"op@example.org"_qs);
    WriteProfileInt(kProfileSmsSendTimeout, 600000); // the SMS in flight is not tried again
    ModemSim::Prepare();
    QByteArray killedRun; // what the modem took before the kill
    {
        ModemSim sim(QStringList{u"PDU=silent"_qs});
        // Connections wait in the backlog of a socket nobody accepts on (no thread here:
        // the sanitizer refuses one after the program's start).
        const SOCKET silent = CreateTcpSocket();
        Bind(silent, SockAddrIn{0x7F000001, 0});
        ASSERT_NE(Listen(silent, 8), SOCKET_ERROR);
        UseMailServer(LocalAddress(silent).port);
        ASSERT_TRUE(Start({path}));
        for (const QString& alarm : alarms) {
            ASSERT_TRUE(Alarm(alarm));
        }
        ASSERT_TRUE(WaitUntil(
            [&] { return stored() == 2 * kAlarms && ModemSim::Transcript().contains('\x1a'); },
            30000));
        program->Process().kill(); // SIGKILL
        ASSERT_TRUE(program->Process().waitForFinished());
        killedRun = ModemSim::Transcript();
        closesocket(silent);
    }
    // Between the runs: a backlog that overfills the modem's queue, its last record torn.
    const int backlog = CGsmModem::kSendRingSize - kAlarms + 4;
    QStringList olds; // the backlog without its torn record, sent after the alarms
    {
        COutbox box(qEnvironmentVariable("ZUNARO_HOME"), {});
        ASSERT_TRUE(box.Open());
        for (int i = 0; i < backlog; ++i) {
            ASSERT_TRUE(box.Append(OutboxChannel::Sms, u"13800000001"_qs, u"Old %1"_qs.arg(i)));
            olds << u"Old %1"_qs.arg(i);
        }
        olds.removeLast();
    }
    WriteBytes(OutboxJournal(), ReadBytes(OutboxJournal()).chopped(3));

    UseMailServer(server.plainPort);
    ModemSim sim;
    ASSERT_TRUE(Start({path}));
    EXPECT_TRUE(program->WaitForLine(
        u"Resending %1 alarm messages left from the last run."_qs.arg(2 * kAlarms + backlog - 1)));
    ASSERT_TRUE(SendJob(port, "New fire\r\n")); // queued behind the backlog, not refused
    EXPECT_TRUE(
        program->WaitForLine(u"Send 'New fire' to 'op@example.org' successfully!"_qs, 60000));
    EXPECT_TRUE(
        program->WaitForLine(u"短信猫向号码8613800000001发送消息：New fire成功！"_qs, 60000));
    EXPECT_EQ(program->Stop(), 0);
    EXPECT_EQ(program->Output().count(u"is damaged at byte"_qs), 1)
        << program->Output().toStdString();
    EXPECT_EQ(stored(), 0u);

    // Oldest first, each once: nothing garbled, the torn record not at all.
    const QStringList expected = alarms + olds + QStringList{u"New fire"_qs};
    EXPECT_EQ(sent(ModemSim::Transcript()).join(u'|').toStdString(),
              expected.join(u'|').toStdString());
    QStringList bodies;
    for (const QJsonObject& mail : server.Messages()) {
        bodies << mail.value("content").toString();
    }
    const QStringList before = sent(killedRun);
    int inFlight = 0;
    for (const QString& alarm : alarms + QStringList{u"New fire"_qs}) {
        EXPECT_EQ(bodies.filter(alarm + u"\r\n"_qs).size(), 1) << alarm.toStdString();
        inFlight += static_cast<int>(before.count(alarm));
    }
    EXPECT_EQ(inFlight, 1) << before.join(u'|').toStdString();
}

TEST_F(Headless, SecondStart_RefusedWhileFirstRuns_StaleLockTakenOver)
{
    ASSERT_TRUE(Start());
    {
        Program second(port);
        ASSERT_TRUE(second.Process().waitForFinished(10000));
        EXPECT_EQ(second.Process().exitCode(), 1);
        EXPECT_TRUE(
            second.Process().readAllStandardError().contains("Another Zunaro.exe is running!"));
    }
    EXPECT_TRUE(Alarm(u"still here"_qs)); // the first one still takes alarms

    // A holder that dies without cleaning up leaves its lock file; the next start takes it.
    program->Process().kill(); // SIGKILL
    program->Process().waitForFinished();
    program.reset();
    EXPECT_TRUE(QFile::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/Zunaro.lock"_qs));
    EXPECT_TRUE(Start());
}
