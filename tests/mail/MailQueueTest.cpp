#include <gtest/gtest.h>

#include <QJsonArray>

#include "MailTestSupport.h"
#include "mail/MailQueue.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"

namespace {

QString Sent(const QString& text, const QString& address)
{
    return MailOutcome(true, text, address);
}
QString Failed(const QString& text, const QString& address)
{
    return MailOutcome(false, text, address);
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
    // The texts of the events from the first-th on, once count of them have arrived.
    QStringList Events(std::size_t count, std::size_t first = 0)
    {
        EXPECT_TRUE(WaitUntil([&] { return m_events.Records().size() >= first + count; }, 30000));
        QStringList texts;
        for (const EventRecord& r : m_events.Records()) {
            texts << r.text;
        }
        return texts.mid(static_cast<qsizetype>(first));
    }

    EventCollector m_events;
    std::unique_ptr<CMailQueue> m_queue;
};

} // namespace

// Security and CA file come from the profile; the bare CR and LF of the text reach the
// server as line ends, and the dot after them as a dot.
TEST_F(MailQueueTest, AlarmMail_GoldenOverVerifiedStartTls_AndAfterRestart)
{
    SmtpPeer& peer = SharedPeer("LOGIN");
    ASSERT_TRUE(peer.ok());
    const std::size_t before = peer.Messages().size();
    ASSERT_TRUE(Queue(peer.plainPort, CSmtpSession::SecurityStartTls).StartWorker());
    m_queue->QueueMail("untrusted@example.org", "x"); // the test CA is not trusted yet
    EXPECT_EQ(Events(1), QStringList{Failed("x", "untrusted@example.org")});
    WriteProfileString(kProfileMailCaFile, peer.caFile);
    const QString text = "Fire in hall 3\r.dot\nend";
    m_queue->QueueMail("duty@example.org", text);
    EXPECT_EQ(Events(1, 1), QStringList{Sent(text, "duty@example.org")});
    const QJsonObject m = peer.Message(before);
    EXPECT_TRUE(m.value("tls").toBool());
    EXPECT_EQ(m.value("mail_from").toString(), QString("duty@example.org"));
    EXPECT_EQ(m.value("rcpt_tos").toArray(), QJsonArray{"duty@example.org"});
    EXPECT_EQ(m.value("login").toString(), QString(SmtpPeer::kUser)); // offered: LOGIN only
    const QByteArray content = m.value("content").toString().toLatin1();
    EXPECT_TRUE(content.startsWith("Date: ")) << content.constData();
    EXPECT_TRUE(content.endsWith(
        "\r\nFrom:  <duty@example.org>\r\nX-Mailer: Alarm\r\nX-Priority: 2 (High)\r\n"
        "To: <duty@example.org>\r\nSubject: Alarm Event\r\nMIME-Version: 1.0\r\n"
        "Content-type: text/plain; charset=\"US-ASCII\"\r\n"
        "Content-Transfer-Encoding: 7bit\r\n\r\nFire in hall 3\r\n.dot\r\nend\r\n"
        "\r\n\r\n\r\n"))
        << content.constData();
    m_queue->StopWorker();
    ASSERT_TRUE(m_queue->StartWorker());
    m_queue->QueueMail("again@example.org", "after restart");
    EXPECT_EQ(Events(1, 2), QStringList{Sent("after restart", "again@example.org")});
    EXPECT_EQ(peer.Message(before + 1).value("mail_from").toString(), QString("again@example.org"));
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
    std::vector<std::uint64_t> finished;
    queue.SetFinished([&](std::uint64_t id) { finished.push_back(id); });
    // Mails resent from the outbox are always queued and take no room from new ones.
    queue.QueueMail("r@example.org", "resent 1", 1, true);
    for (std::size_t i = 0; i < CMailQueue::kMaxItems + 3; ++i) {
        queue.QueueMail("x@example.org", QString::number(i), 100 + i); // no worker runs
    }
    queue.QueueMail("r@example.org", "resent 2", 2, true);
    EXPECT_EQ(queue.Pending(), CMailQueue::kMaxItems + 2);
    EXPECT_EQ(Events(3, 2).back(), Failed("1026", "x@example.org")); // the newest are refused
    EXPECT_EQ(finished, (std::vector<std::uint64_t>{1124, 1125, 1126}));
    m_queue.reset(); // the waiting ones are reported at the stop and stay in the outbox
    const QStringList stopped = Events(CMailQueue::kMaxItems + 2, 5);
    EXPECT_EQ(stopped.size(), static_cast<qsizetype>(CMailQueue::kMaxItems + 2));
    EXPECT_EQ(stopped.back(), Failed("resent 2", "r@example.org"));
    EXPECT_EQ(finished.size(), 3u);
}

TEST_F(MailQueueTest, FailedMails_OneErrorEach_CrLfAddressNeverOnTheWire)
{
    Script good = Replies({"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"});
    good.push_back({"\r\n.\r\n", {"250 queued\r\n"}, false});
    good.push_back({"\r\n", {"221 bye\r\n"}, false});
    ScriptedServer server(
        std::vector<Script>{Replies({"250 AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n",
                                     "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n", "553 no\r\n"}),
                            {Say("220 s\r\n")}, // silence
                            good});
    CMailQueue& queue = Queue(server.port, 0, FastTable(300));
    const QStringList to{"a@x.org", "evil@x.org\r\nRCPT TO:<victim@x.org>", "b@x.org",
                         "good@x.org"};
    for (const QString& address : to) {
        queue.QueueMail(address, "T");
    }
    ASSERT_TRUE(queue.StartWorker());
    EXPECT_EQ(Events(4), (QStringList{Failed("T", to[0]), Failed("T", to[1]), Failed("T", to[2]),
                                      Sent("T", to[3])}));
    queue.StopWorker();
    EXPECT_EQ(server.Connections(), 3u); // the address with CR LF never reached the network
    EXPECT_TRUE(server.Received(0).endsWith("MAIL FROM:<a@x.org>\r\nQUIT\r\n"));
    EXPECT_FALSE(server.Received(2).contains("AUTH")); // none offered: none attempted
}

TEST_F(MailQueueTest, StopWorker_EndsAgainstSilentServersAndReportsEveryMail)
{
    for (const int security : {CSmtpSession::SecurityNone, CSmtpSession::SecurityImplicitTls,
                               CSmtpSession::SecurityStartTls}) {
        // Accepts, then never answers (for STARTTLS: never completes the handshake).
        ScriptedServer server(security == CSmtpSession::SecurityStartTls
                                  ? Replies({"250-s\r\n250 STARTTLS\r\n", "220 go\r\n"})
                                  : Script{});
        const std::size_t before = m_events.Records().size();
        // The default time-outs (minutes): only the stop can end the session.
        CMailQueue& queue = Queue(server.port, security, SmtpCommandTable::Default());
        ASSERT_TRUE(queue.StartWorker());
        std::atomic<int> told{0}, toldSent{0}; // the one at work and the one left waiting
        const MailDone done = [&](bool sent) { ++told, toldSent += sent; };
        queue.QueueMail("first@example.org", "stuck", 0, false, done);
        queue.QueueMail("second@example.org", "waiting", 0, false, done);
        ASSERT_TRUE(WaitUntil([&] { return server.Connections() == 1; }));
        queue.StopWorker();
        EXPECT_EQ(told, 2);
        EXPECT_EQ(toldSent, 0);
        EXPECT_EQ(Events(2, before), (QStringList{Failed("stuck", "first@example.org"),
                                                  Failed("waiting", "second@example.org")}))
            << security;
        EXPECT_FALSE(server.Received().contains("QUIT"));
    }
}
