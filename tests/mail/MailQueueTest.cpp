#include <gtest/gtest.h>

#include <QJsonArray>
#include <QLoggingCategory>

#include "MailTestSupport.h"
#include "mail/MailQueue.h"
#include "platform/Base64.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/SocketConnect.h"

namespace {

QString Sent(const QString& text, const QString& address)
{
    return QString("Send '%1' to '%2' successfully!").arg(text, address);
}

QString Failed(const QString& text, const QString& address)
{
    return QString("Send '%1' to '%2' unsuccessfully!").arg(text, address);
}

SmtpPeer& LoginPeer()
{
    static SmtpPeer peer("LOGIN");
    return peer;
}

// A queue logged in as the test mailbox, sending to 127.0.0.1:port, and the events it posts.
class MailQueueTest : public testing::Test
{
protected:
    CMailQueue& Queue(std::uint16_t port, int security = 0,
                      const SmtpCommandTable& commands = FastTable(3000))
    {
        WriteProfileString(kProfileMailServer, "127.0.0.1");
        WriteProfileInt(kProfileMailPort, port);
        WriteProfileInt(kProfileMailSecurity, security);
        WriteProfileString(kProfileMailCaFile, "");
        m_queue = std::make_unique<CMailQueue>(MailQueueTiming{commands});
        m_queue->SetAccount(SmtpPeer::kUser, SmtpPeer::kPassword);
        return *m_queue;
    }
    // The texts of the events, once n have arrived.
    QStringList Events(std::size_t n)
    {
        EXPECT_TRUE(WaitUntil([&] { return m_events.Records().size() >= n; }, 30000));
        QStringList texts;
        for (const EventRecord& r : m_events.Records()) {
            texts << r.text;
        }
        return texts;
    }

    EventCollector m_events;
    std::unique_ptr<CMailQueue> m_queue;
};

} // namespace

TEST_F(MailQueueTest, AlarmMail_GoldenWireAtTheRealServer)
{
    SmtpPeer& peer = LoginPeer();
    ASSERT_TRUE(peer.ok());
    const std::size_t before = peer.Messages().size();
    ASSERT_TRUE(Queue(peer.plainPort).StartWorker());
    m_queue->QueueMail("duty@example.org", "Fire in hall 3\r.dot\nend");
    EXPECT_EQ(Events(1), QStringList{Sent("Fire in hall 3\r.dot\nend", "duty@example.org")});
    ASSERT_TRUE(peer.WaitMessages(before + 1));
    const QJsonObject m = peer.Messages().back();
    EXPECT_EQ(m.value("mail_from").toString(), QString("duty@example.org"));
    EXPECT_EQ(m.value("rcpt_tos").toArray(), QJsonArray{"duty@example.org"});
    const QByteArray content = m.value("content").toString().toLatin1();
    EXPECT_TRUE(content.startsWith("Date: ")) << content.constData();
    // The bare CR and LF of the text arrive as line ends, the dot after them as a dot.
    EXPECT_TRUE(content.endsWith(
        "\r\nFrom:  <duty@example.org>\r\nX-Mailer: Alarm\r\nX-Priority: 2 (High)\r\n"
        "To: <duty@example.org>\r\nSubject: Alarm Event\r\nMIME-Version: 1.0\r\n"
        "Content-type: text/plain; charset=\"US-ASCII\"\r\n"
        "Content-Transfer-Encoding: 7bit\r\n\r\nFire in hall 3\r\n.dot\r\nend\r\n\r\n\r\n\r\n"))
        << content.constData();

    ASSERT_TRUE(WaitUntil([&] { return peer.Transcripts().size() >= before + 1; }));
    QByteArray client;
    for (const QByteArray& line : peer.Transcripts().back().split('\n')) {
        if (line.startsWith("C: ")) {
            client += line.mid(3, line.size() - 4) + "\n";
        }
    }
    QByteArray host;
    ASSERT_TRUE(LocalHostName(&host));
    EXPECT_TRUE(client.startsWith("EHLO " + host + "\nAUTH LOGIN\n" +
                                  Base64Encode(SmtpPeer::kUser) + "\n" +
                                  Base64Encode(SmtpPeer::kPassword) +
                                  "\nMAIL FROM:<duty@example.org>\nRCPT "
                                  "TO:<duty@example.org>\nDATA\n"))
        << client.constData();
    EXPECT_TRUE(client.endsWith("\n.\nQUIT\n")) << client.constData();
}

TEST_F(MailQueueTest, ThreeRecipients_ThreeSessionsInQueueOrder_RestartAfterStop)
{
    SmtpPeer& peer = LoginPeer();
    ASSERT_TRUE(peer.ok());
    const std::size_t before = peer.Messages().size();
    CMailQueue& queue = Queue(peer.plainPort);
    const QStringList to{"a@example.org", "b@example.org", "c@example.org"};
    for (const QString& address : to) {
        queue.QueueMail(address, "Alarm 7");
    }
    ASSERT_TRUE(queue.StartWorker());
    EXPECT_EQ(Events(3), (QStringList{Sent("Alarm 7", to[0]), Sent("Alarm 7", to[1]),
                                      Sent("Alarm 7", to[2])}));
    ASSERT_TRUE(peer.WaitMessages(before + 3));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(peer.Messages()[before + i].value("mail_from").toString(), to[i]);
    }
    queue.StopWorker();
    ASSERT_TRUE(queue.StartWorker());
    queue.QueueMail("again@example.org", "after restart");
    EXPECT_EQ(Events(4).back(), Sent("after restart", "again@example.org"));
}

TEST_F(MailQueueTest, ProfileSecurity_StartTlsVerifiedAgainstCaFile)
{
    SmtpPeer& peer = LoginPeer();
    ASSERT_TRUE(peer.ok());
    const std::size_t before = peer.Messages().size();
    ASSERT_TRUE(Queue(peer.plainPort, CSmtpSession::SecurityStartTls).StartWorker());
    m_queue->QueueMail("untrusted@example.org", "x"); // the test CA is not trusted yet
    Events(1);
    WriteProfileString(kProfileMailCaFile, peer.caFile);
    m_queue->QueueMail("trusted@example.org", "y");
    EXPECT_EQ(Events(2), (QStringList{Failed("x", "untrusted@example.org"),
                                      Sent("y", "trusted@example.org")}));
    ASSERT_TRUE(peer.WaitMessages(before + 1));
    EXPECT_TRUE(peer.Messages().back().value("tls").toBool());
}

TEST_F(MailQueueTest, NoAccountOrFullQueue_ReportedAtOnceNeverSilent)
{
    CMailQueue& queue = Queue(FreePort());
    queue.SetAccount(SmtpPeer::kUser, "");
    queue.QueueMail("a@example.org", "no password");
    queue.SetAccount("", SmtpPeer::kPassword);
    queue.QueueMail("b@example.org", "no sender");
    EXPECT_EQ(queue.Pending(), 0u);
    EXPECT_EQ(Events(2), (QStringList{Failed("no password", "a@example.org"),
                                      Failed("no sender", "b@example.org")}));
    queue.SetAccount(SmtpPeer::kUser, SmtpPeer::kPassword);
    for (std::size_t i = 0; i < CMailQueue::kMaxItems + 3; ++i) {
        queue.QueueMail("x@example.org", QString::number(i)); // no worker runs
    }
    EXPECT_EQ(queue.Pending(), CMailQueue::kMaxItems);
    EXPECT_EQ(Events(5).back(), Failed("1026", "x@example.org")); // the newest is refused
    m_queue.reset(); // the waiting ones are reported at the stop
    const QStringList all = Events(5 + CMailQueue::kMaxItems);
    EXPECT_EQ(all.size(), static_cast<qsizetype>(5 + CMailQueue::kMaxItems));
    EXPECT_EQ(all.back(), Failed("1023", "x@example.org"));
}

TEST_F(MailQueueTest, FailedMails_OneErrorEachWithItsReasonInTheDebugOutput)
{
    std::vector<Script> scripts;
    scripts.push_back(Replies({"250-s\r\n250 AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n",
                               "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n", "553 sender refused\r\n"}));
    scripts.push_back({Say("220 s\r\n")}); // silence
    Script closed = Replies({"250 s\r\n", "250 ok\r\n"});
    closed.push_back(Hear());
    closed.push_back(Hangup()); // RCPT TO never answered
    scripts.push_back(closed);
    scripts.push_back(HappyScript());
    ScriptedServer server(scripts);
    CMailQueue& queue = Queue(server.port, 0, FastTable(300));
    const QStringList to{"a@x.org", "evil@x.org\r\nRCPT TO:<victim@x.org>", "b@x.org", "c@x.org",
                         "good@x.org"};
    for (const QString& address : to) {
        queue.QueueMail(address, "T");
    }
    static QStringList debug;
    QLoggingCategory::setFilterRules("zunaro.smtp.debug=true");
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { debug << text; });
    ASSERT_TRUE(queue.StartWorker());
    const QStringList events = Events(to.size());
    queue.StopWorker();
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules("zunaro.smtp.debug=false");
    for (int i = 0; i + 1 < to.size(); ++i) {
        EXPECT_EQ(events[i], Failed("T", to[i]));
    }
    EXPECT_EQ(events.back(), Sent("T", "good@x.org"));
    EXPECT_EQ(server.Connections(), 4u); // the address with CR LF never reached the network
    EXPECT_FALSE(server.Received(3).contains("AUTH")); // none offered: none attempted
    EXPECT_TRUE(server.Received(0).endsWith("MAIL FROM:<a@x.org>\r\nQUIT\r\n"));
    for (const char* line :
         {"a@x.org failed with 300 (MAIL FROM refused)",
          "b@x.org failed with 402 (no 220 greeting, or a send or reply timed out)",
          "c@x.org failed with 400 (the server closed the connection)"}) {
        EXPECT_TRUE(debug.contains(QString("alarm mail to ") + line)) << line;
    }
}

TEST_F(MailQueueTest, StopWorker_EndsAgainstSilentServersAndReportsEveryMail)
{
    for (const int security : {CSmtpSession::SecurityNone, CSmtpSession::SecurityImplicitTls,
                               CSmtpSession::SecurityStartTls}) {
        // Accepts, then never answers (for STARTTLS: never completes the handshake).
        ScriptedServer server(security == CSmtpSession::SecurityStartTls
                                  ? Replies({"250-s\r\n250 STARTTLS\r\n", "220 go\r\n"})
                                  : Script{});
        m_events.Records();
        const std::size_t before = m_events.Records().size();
        // The design's time-outs (minutes): only the stop can end the session.
        CMailQueue& queue = Queue(server.port, security, SmtpCommandTable::Default());
        ASSERT_TRUE(queue.StartWorker());
        queue.QueueMail("first@example.org", "stuck");
        queue.QueueMail("second@example.org", "waiting");
        ASSERT_TRUE(WaitUntil([&] { return server.Connections() == 1; }));
        queue.StopWorker();
        const QStringList events = Events(before + 2).mid(static_cast<qsizetype>(before));
        EXPECT_EQ(events, (QStringList{Failed("stuck", "first@example.org"),
                                       Failed("waiting", "second@example.org")}))
            << security;
        EXPECT_EQ(queue.Pending(), 0u);
    }
}
