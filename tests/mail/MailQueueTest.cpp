#include <gtest/gtest.h>

#include <QJsonArray>
#include <QRegularExpression>

#include "MailTestSupport.h"
#include "platform/Base64.h"
#include "mail/MailQueue.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/SocketConnect.h"

namespace {

const QString kSender = SmtpPeer::kUser;
const QString kPassword = SmtpPeer::kPassword;

void UseServer(std::uint16_t port, int security = 0)
{
    WriteProfileString(kProfileMailServer, "127.0.0.1");
    WriteProfileInt(kProfileMailPort, port);
    WriteProfileInt(kProfileMailSecurity, security);
}

MailQueueTiming FastQueue(int sessionMs = 3000)
{
    MailQueueTiming t;
    t.commands = FastTable(sessionMs);
    return t;
}

QString Sent(const QString& text, const QString& address)
{
    return QString("Send '%1' to '%2' successfully!").arg(text, address);
}

QString Failed(const QString& text, const QString& address)
{
    return QString("Send '%1' to '%2' unsuccessfully!").arg(text, address);
}

bool WaitEvents(EventCollector& events, std::size_t n, int timeoutMs = 15000)
{
    return WaitUntil([&] { return events.Records().size() >= n; }, timeoutMs);
}

SmtpPeer& LoginPeer()
{
    static SmtpPeer peer({"--mechanisms", "LOGIN"});
    return peer;
}

} // namespace

TEST(MailQueue, AlarmMail_ExactWireHeaderAndBodyAtTheRealServer)
{
    SmtpPeer& peer = LoginPeer();
    ASSERT_TRUE(peer.ok());
    UseServer(peer.plainPort);
    EventCollector events;
    CMailQueue queue(FastQueue());
    queue.SetAccount(kSender, kPassword);
    ASSERT_TRUE(queue.StartWorker());
    const std::size_t before = peer.Messages().size();
    queue.QueueMail("duty@example.org", "Fire in hall 3");
    ASSERT_TRUE(WaitEvents(events, 1));
    ASSERT_TRUE(peer.WaitMessages(before + 1));
    const auto records = events.Records();
    EXPECT_EQ(records[0].type, 0);
    EXPECT_EQ(records[0].text, Sent("Fire in hall 3", "duty@example.org"));

    const QJsonObject m = peer.Messages().back();
    EXPECT_EQ(m.value("mail_from").toString(), QString("duty@example.org"));
    EXPECT_EQ(m.value("rcpt_tos").toArray().size(), 1);
    EXPECT_EQ(m.value("rcpt_tos").toArray().at(0).toString(), QString("duty@example.org"));
    const QByteArray content = m.value("content").toString().toLatin1();
    const QRegularExpression date(
        "^Date: \\d{1,2} [A-Z][a-z]{2} \\d{4} \\d{1,2}:\\d{1,2}:\\d{1,2}\r\n");
    EXPECT_TRUE(date.match(QString::fromLatin1(content)).hasMatch()) << content.constData();
    EXPECT_TRUE(content.endsWith(
        "\r\nFrom:  <duty@example.org>\r\nX-Mailer: Alarm\r\nX-Priority: 2 (High)\r\n"
        "To: <duty@example.org>\r\nSubject: Alarm Event\r\nMIME-Version: 1.0\r\n"
        "Content-type: text/plain; charset=\"US-ASCII\"\r\n"
        "Content-Transfer-Encoding: 7bit\r\n\r\nFire in hall 3\r\n\n\r\n\r\n"))
        << content.constData();

    ASSERT_TRUE(WaitUntil([&] { return peer.Transcripts().size() >= before + 1; }));
    QByteArray client;
    for (const QByteArray& line : Lines(peer.Transcripts().back())) {
        if (line.startsWith("C: ")) {
            client += line.mid(3) + "\n";
        }
    }
    QByteArray host;
    ASSERT_TRUE(LocalHostName(&host));
    EXPECT_TRUE(
        client.startsWith("EHLO " + host + "\nAUTH LOGIN\n" + Base64Encode(kSender.toLatin1()) +
                          "\n" + Base64Encode(kPassword.toLatin1()) +
                          "\nMAIL FROM:<duty@example.org>\nRCPT TO:<duty@example.org>\nDATA\n"))
        << client.constData();
    EXPECT_TRUE(client.endsWith("\n.\nQUIT\n")) << client.constData();
}

TEST(MailQueue, ThreeRecipients_ThreeSessionsInQueueOrder)
{
    SmtpPeer& peer = LoginPeer();
    ASSERT_TRUE(peer.ok());
    UseServer(peer.plainPort);
    EventCollector events;
    CMailQueue queue(FastQueue());
    queue.SetAccount(kSender, kPassword);
    const std::size_t before = peer.Messages().size();
    const QStringList to{"a@example.org", "b@example.org", "c@example.org"};
    for (const QString& address : to) {
        queue.QueueMail(address, "Alarm 7");
    }
    ASSERT_TRUE(queue.StartWorker());
    ASSERT_TRUE(WaitEvents(events, 3));
    ASSERT_TRUE(peer.WaitMessages(before + 3));
    const auto records = events.Records();
    const auto messages = peer.Messages();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i].text, Sent("Alarm 7", to[i]));
        EXPECT_EQ(messages[before + i].value("mail_from").toString(), to[i]);
    }
    ASSERT_TRUE(WaitUntil([&] { return peer.Transcripts().size() >= before + 3; }));
    for (std::size_t i = before; i < before + 3; ++i) {
        EXPECT_EQ(peer.Transcripts()[i].count("C: MAIL FROM:"), 1); // one session per mail
    }
}

TEST(MailQueue, ProfileSecurity_StartTlsVerifiedAgainstCaFile)
{
    SmtpPeer& peer = LoginPeer();
    ASSERT_TRUE(peer.ok());
    UseServer(peer.plainPort, CSmtpSession::SecurityStartTls);
    EventCollector events;
    CMailQueue queue(FastQueue());
    queue.SetAccount(kSender, kPassword);
    ASSERT_TRUE(queue.StartWorker());
    const std::size_t before = peer.Messages().size();
    queue.QueueMail("untrusted@example.org", "x"); // test CA not trusted yet
    ASSERT_TRUE(WaitEvents(events, 1));
    WriteProfileString(kProfileMailCaFile, peer.caFile);
    queue.QueueMail("trusted@example.org", "y");
    ASSERT_TRUE(WaitEvents(events, 2));
    WriteProfileString(kProfileMailCaFile, "");
    WriteProfileInt(kProfileMailSecurity, 0);
    const auto records = events.Records();
    EXPECT_EQ(records[0].text, Failed("x", "untrusted@example.org"));
    EXPECT_EQ(records[1].text, Sent("y", "trusted@example.org"));
    ASSERT_TRUE(peer.WaitMessages(before + 1));
    EXPECT_TRUE(peer.Messages().back().value("tls").toBool());
}

TEST(MailQueue, EmptySenderOrPassword_NothingQueuedNothingPosted)
{
    SmtpPeer& peer = LoginPeer();
    ASSERT_TRUE(peer.ok());
    UseServer(peer.plainPort);
    EventCollector events;
    CMailQueue queue(FastQueue());
    ASSERT_TRUE(queue.StartWorker());
    queue.SetAccount(kSender, "");
    queue.QueueMail("dropped@example.org", "one");
    queue.SetAccount("", kPassword);
    queue.QueueMail("dropped@example.org", "two");
    EXPECT_EQ(queue.Pending(), 0u);
    queue.SetAccount(kSender, kPassword);
    queue.QueueMail("kept@example.org", "three");
    ASSERT_TRUE(WaitEvents(events, 1));
    EXPECT_TRUE(queue.StopWorker());
    const auto records = events.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, Sent("three", "kept@example.org"));
}

TEST(MailQueue, FailedMails_OneErrorEventEach_NextMailGoesOut)
{
    // One script per connection, in queue order.
    std::vector<Script> scripts;
    Script refusedSender{Say("220 s\r\n")};
    Answer(refusedSender, "250-s\r\n250 AUTH LOGIN\r\n");
    Answer(refusedSender, "334 VXNlcm5hbWU6\r\n");
    Answer(refusedSender, "334 UGFzc3dvcmQ6\r\n");
    Answer(refusedSender, "235 ok\r\n");
    Answer(refusedSender, "553 sender refused\r\n");
    Answer(refusedSender, "221 bye\r\n");
    scripts.push_back(refusedSender);
    scripts.push_back({Say("220 s\r\n")});                                // silence
    scripts.push_back({Say(QByteArray(4 << 20, 'x'))});                   // endless data
    scripts.push_back({Say("220-s\r\nnot a reply\r\n999x\r\n")});         // no final line
    scripts.push_back({Say("220 " + QByteArray(1 << 20, 'L') + "\r\n")}); // 1 MB line
    Script closed{Say("220 s\r\n")};
    Answer(closed, "250 s\r\n");
    Answer(closed, "250 ok\r\n");
    closed.push_back(Hangup()); // mid-transaction
    scripts.push_back(closed);
    scripts.push_back(HappyScript());
    ScriptedServer server(scripts);
    UseServer(server.port);

    EventCollector events;
    CMailQueue queue(FastQueue(300));
    queue.SetAccount(kSender, kPassword);
    const QStringList to{"a@x.org", "evil@x.org\r\nRCPT TO:<victim@x.org>",
                         "b@x.org", "c@x.org",
                         "d@x.org", "e@x.org",
                         "f@x.org", "good@x.org"};
    for (const QString& address : to) {
        queue.QueueMail(address, "T");
    }
    ASSERT_TRUE(queue.StartWorker());
    ASSERT_TRUE(WaitEvents(events, to.size(), 30000));
    const auto records = events.Records();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(to.size()));
    for (int i = 0; i + 1 < to.size(); ++i) {
        EXPECT_EQ(records[i].type, 1) << i;
        EXPECT_EQ(records[i].text, Failed("T", to[i]));
    }
    EXPECT_EQ(records.back().text, Sent("T", "good@x.org"));
    EXPECT_EQ(server.Connections(), 7u); // the address with CR LF never reached the network
    EXPECT_FALSE(server.Received(6).contains("AUTH")); // none offered: none attempted
    EXPECT_TRUE(server.Received(0).endsWith("MAIL FROM:<a@x.org>\r\nQUIT\r\n"));
    for (std::size_t i = 0; i < server.Connections(); ++i) {
        EXPECT_FALSE(server.Received(i).contains("victim")) << i;
    }
}

TEST(MailQueue, StopWhileIdle_WorkerEndsAndRestartSends)
{
    SmtpPeer& peer = LoginPeer();
    ASSERT_TRUE(peer.ok());
    UseServer(peer.plainPort);
    EventCollector events;
    CMailQueue queue(FastQueue());
    queue.SetAccount(kSender, kPassword);
    ASSERT_TRUE(queue.StartWorker());
    EXPECT_TRUE(queue.StopWorker());
    ASSERT_TRUE(queue.StartWorker());
    queue.QueueMail("again@example.org", "after restart");
    ASSERT_TRUE(WaitEvents(events, 1));
    EXPECT_EQ(events.Records()[0].text, Sent("after restart", "again@example.org"));
}

TEST(MailQueue, WorkerOutlivingStop_FinishesAfterQueueIsGone)
{
    // The server goes silent after MAIL FROM; the session gives up only after its reply
    // time-out, long after StopWorker has returned and the queue is destroyed.
    Script s{Say("220 s\r\n")};
    Answer(s, "250 s\r\n");
    s.push_back(Hear());
    ScriptedServer server(s);
    UseServer(server.port);
    EventCollector events;
    auto queue = std::make_unique<CMailQueue>(FastQueue(1500));
    queue->SetAccount(kSender, kPassword);
    ASSERT_TRUE(queue->StartWorker());
    queue->QueueMail("slow@example.org", "first");
    ASSERT_TRUE(WaitUntil([&] { return server.Received().contains("MAIL FROM"); }));
    queue->QueueMail("waiting@example.org", "second");
    EXPECT_FALSE(queue->StopWorker()); // still inside the session: left to finish
    queue.reset();
    ASSERT_TRUE(WaitEvents(events, 2));
    const auto records = events.Records();
    EXPECT_EQ(records[0].text, Failed("second", "waiting@example.org")); // failed by StopWorker
    EXPECT_EQ(records[1].text, Failed("first", "slow@example.org"));     // by the worker, later
}

TEST(MailQueue, BacklogOver1024_OldestFailedWithEvents)
{
    EventCollector events;
    auto queue = std::make_unique<CMailQueue>(FastQueue());
    queue->SetAccount(kSender, kPassword);
    for (int i = 0; i < 1030; ++i) {
        queue->QueueMail("x@example.org", QString::number(i));
    }
    std::unique_ptr<MailItem> item;
    ASSERT_TRUE(queue->TakeNext(&item));
    EXPECT_EQ(item->Text(), QString("6"));
    EXPECT_EQ(queue->Pending(), 1023u);
    auto records = events.Records();
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0].text, Failed("0", "x@example.org"));
    EXPECT_EQ(records[5].text, Failed("5", "x@example.org"));
    queue.reset(); // mails still waiting at the stop are failed, not lost silently
    records = events.Records();
    ASSERT_EQ(records.size(), 1029u);
    EXPECT_EQ(records.back().text, Failed("1029", "x@example.org"));
}
