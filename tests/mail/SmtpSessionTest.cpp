// The session against scripted servers: exact wire texts, broken servers, failure paths.

#include <gtest/gtest.h>

#include "MailTestSupport.h"
#include "platform/Event.h"

namespace {

constexpr int kPlain = CSmtpSession::SecurityNone;
constexpr int kStartTls = CSmtpSession::SecurityStartTls;
constexpr int kTls = CSmtpSession::SecurityImplicitTls;
const QByteArray kLogin = "250-h\r\n250 AUTH LOGIN\r\n";

// A session with an EHLO name the tests can predict, talking to a scripted server.
class SmtpSessionTest : public testing::Test
{
protected:
    // Connects with the given security; returns the ECSmtp code or 0.
    int Connect(std::uint16_t port, int security = kPlain,
                const SmtpCommandTable& table = FastTable(300), const QByteArray& password = "pass",
                const QByteArray& hostName = "tester")
    {
        return ErrorOf(
            [&] { Session(table, password, hostName).Connect("127.0.0.1", port, security, true); });
    }
    // Sends message and quits; returns the ECSmtp code or 0.
    int Send(std::uint16_t port, const CSmtpMessage& message)
    {
        return ErrorOf([&] {
            Session(FastTable(), "pass", "tester").SetServer("127.0.0.1", port, true);
            m_session->SendMail(message);
            m_session->Disconnect();
        });
    }
    CSmtpSession& Session(const SmtpCommandTable& table, const QByteArray& password,
                          const QByteArray& hostName)
    {
        m_session = std::make_unique<CSmtpSession>(table, &m_stop);
        m_session->SetLocalHostName(hostName);
        m_session->SetLogin("user");
        m_session->SetPassword(password);
        return *m_session;
    }

    Event m_stop{Event::Reset::Manual};
    std::unique_ptr<CSmtpSession> m_session;
};

// The replies up to DATA's 354, then the client's text up to each mark (empty: hang up).
Script UpToData(std::initializer_list<QByteArray> marks)
{
    Script s = Replies({"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"});
    for (const QByteArray& mark : marks) {
        s.push_back(mark.isEmpty() ? Hangup() : Hear(mark));
    }
    return s;
}

} // namespace

TEST(SmtpKeyword, OfferedOnlyBetweenSeparators)
{
    const QByteArray ehlo =
        "250-h\r\n250-AUTH LOGIN PLAIN\r\n250-AUTH=CRAM-MD5\r\n250 STARTTLS\r\n";
    const std::pair<QByteArray, QByteArray> cases[] = {{ehlo, "AUTH"},
                                                       {ehlo, "login"},
                                                       {ehlo, "PLAIN"},
                                                       {ehlo, "CRAM-MD5"},
                                                       {ehlo, "STARTTLS"},
                                                       {"x" + ehlo, "LOG"},
                                                       {ehlo, "DIGEST-MD5"},
                                                       {"AUTH X\r\n", "AUTH"},
                                                       {"250 XAUTH\r\n", "AUTH"},
                                                       {"250 AUTH", "AUTH"},
                                                       {"", "AUTH"}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(CSmtpSession::IsKeywordOffered(cases[i].first, cases[i].second), i < 5) << i;
    }
}

TEST_F(SmtpSessionTest, MultiLineReplyInPieces_ReadAsOneReplyAndLoginSent)
{
    // "220" CR LF alone is a complete final line; the pieces come 30 ms apart.
    Script s{
        Say("22", {"0\r\n"}),
        {"\r\n", {"250-first\r\n250-AU", "TH LOGIN\r\n", "250-SIZE 1\r\n250 HE", "LP\r\n"}, false}};
    for (const char* reply :
         {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n", "221 bye\r\n"}) {
        s.push_back({"\r\n", {reply}, false});
    }
    ScriptedServer server(s);
    ASSERT_EQ(Connect(server.port, kPlain, FastTable()), 0);
    EXPECT_EQ(m_session->LastReply(), QByteArray("235 ok\r\n"));
    m_session->Disconnect();
    EXPECT_EQ(server.Received(),
              QByteArray("EHLO tester\r\nAUTH LOGIN\r\ndXNlcg==\r\ncGFzcw==\r\nQUIT\r\n"));
}

TEST_F(SmtpSessionTest, MechanismChoice_FollowsPreferenceNotOfferOrder)
{
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"250-h\r\n250-AUTH PLAIN LOGIN\r\n250 OK\r\n", "AUTH LOGIN\r\n"},
        {"250-h\r\n250 AUTH=LOGIN\r\n", "AUTH LOGIN\r\n"},
        {"250-h\r\n250 AUTH DIGEST-MD5 PLAIN CRAM-MD5\r\n", "AUTH PLAIN AHVzZXIAcGFzcw==\r\n"},
        {"250-h\r\n250 AUTH DIGEST-MD5 CRAM-MD5\r\n", "AUTH CRAM-MD5\r\n"},
        {"250-h\r\n250 AUTH DIGEST-MD5\r\n", "AUTH DIGEST-MD5\r\n"},
    };
    for (const auto& [ehlo, firstAuthLine] : cases) {
        ScriptedServer server(Replies({ehlo})); // then silence
        Connect(server.port, kPlain, FastTable(100));
        ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
        EXPECT_EQ(server.Received(), "EHLO tester\r\n" + firstAuthLine);
    }
}

TEST_F(SmtpSessionTest, ConnectFailures_CodeAndQuitOnlyAfterARefusal)
{
    QByteArray longReply;
    while (longReply.size() <= CSmtpSession::kBufferSize) {
        longReply += "250-" + QByteArray(200, 'k') + "\r\n";
    }
    Script closed = Replies({kLogin});
    closed.push_back({"\r\n", {}, true});
    struct Case
    {
        int security;
        int code;
        QByteArray wire; // everything the client sent; null: not checked
        Script script;
    };
    const Case cases[] = {
        {kPlain, SmtpErrAuthFinal, "EHLO tester\r\nAUTH LOGIN\r\ndXNlcg==\r\ncGFzcw==\r\nQUIT\r\n",
         Replies({kLogin, "334 x\r\n", "334 y\r\n", "535 bad\r\n"})},
        {kPlain, SmtpErrAuthLogin, "EHLO tester\r\nAUTH LOGIN\r\n",
         Replies({kLogin, "530 TLS first\r\n"})},
        {kPlain, SmtpErrEhlo, "EHLO tester\r\n", Replies({"502 no\r\n"})}, // and no HELO
        {kStartTls, SmtpErrStartTlsMissing, "EHLO tester\r\nQUIT\r\n", Replies({kLogin})},
        {kPlain, SmtpErrNoMechanism, "EHLO tester\r\nQUIT\r\n", Replies({"250 AUTH GSSAPI\r\n"})},
        {kPlain, SmtpErrTimeout, "", {Say("554 go away\r\n")}},
        {kPlain, SmtpErrClosed, "EHLO tester\r\nAUTH LOGIN\r\n", closed},
        {kPlain, SmtpErrTimeout, "EHLO tester\r\n", {Say("220 hi\r\n")}},
        {kPlain, SmtpErrTimeout, "", {Say("220 no line end")}},
        {kPlain, SmtpErrTimeout, "", {Say("abc hi\r\nxyz ok\r\n2x0 what\r\n")}},
        {kPlain, SmtpErrClosed, "", {Hangup()}},
        {kPlain, SmtpErrBuffer, "", {Say(QByteArray(4 << 20, 'x'))}},
        {kPlain, SmtpErrBuffer, "", {Say("220 " + QByteArray(1 << 20, 'a') + "\r\n")}},
        {kPlain, SmtpErrBuffer, "EHLO tester\r\n", Replies({longReply + "250 done\r\n"})},
        {kTls, SmtpErrTls, {}, {Say("220 plain\r\n")}},
        {kTls, SmtpErrTimeout, {}, {}}, // the handshake stalls
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& k = cases[i];
        ScriptedServer server(k.script);
        EXPECT_EQ(Connect(server.port, k.security), k.code) << i;
        EXPECT_FALSE(m_session->HasSocket() || m_session->IsConnected()) << i;
        EXPECT_LT(m_session->LastReply().size(), CSmtpSession::kBufferSize);
        ASSERT_TRUE(WaitUntil([&] { return server.Finished(); })) << i;
        EXPECT_TRUE(k.wire.isNull() || server.Received() == k.wire)
            << i << server.Received().constData();
    }
    ScriptedServer server(Replies({kLogin, "221 bye\r\n"}));
    EXPECT_EQ(Connect(server.port, kPlain, FastTable(), ""), SmtpErrNoPassword); // before any AUTH
    EXPECT_EQ(Connect(server.port, kPlain, FastTable(), "pass", QByteArray(10240, 'h')),
              SmtpErrCommandTooLong);
    ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
    EXPECT_EQ(server.Received(), QByteArray("EHLO tester\r\nQUIT\r\n"));
    const int code = Connect(FreePort());
    EXPECT_TRUE(code == SmtpErrConnect || code == SmtpErrWait) << code;
}

TEST_F(SmtpSessionTest, MessageOnTheWire_RecipientsHeaderAndNormalisedBody)
{
    Script s = Replies(
        {"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"});
    s.push_back({"\r\n.\r\n", {"250 queued\r\n"}, false});
    s.push_back({"\r\n", {"221 bye\r\n"}, false});
    ScriptedServer server(s);
    CSmtpMessage m = TestMessage({".", "a\r\n.\r\nQUIT", "bare\rCR.\r.x", "bare\nLF", "\n"});
    m.AddRecipient("b@example.org", "Bee ");
    m.AddCcRecipient("c@example.org");
    ASSERT_EQ(Send(server.port, m), 0);
    ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
    const QByteArray wire = server.Received();
    EXPECT_TRUE(wire.startsWith(
        "EHLO tester\r\nMAIL FROM:<from@example.org>\r\nRCPT TO:<rcpt@example.org>\r\n"
        "RCPT TO:<b@example.org>\r\nRCPT TO:<c@example.org>\r\nDATA\r\nDate: "));
    // Every line end CR LF and every leading dot doubled: only our mark ends the data.
    EXPECT_TRUE(
        wire.endsWith("7bit\r\n\r\n..\r\na\r\n..\r\nQUIT\r\nbare\r\nCR.\r\n..x\r\nbare\r\nLF\r\n"
                      "\r\n\r\n\r\n.\r\nQUIT\r\n"))
        << wire.constData();
    for (qsizetype i = 0; i < wire.size(); ++i) {
        ASSERT_EQ(wire[i] == '\n', i > 0 && wire[i - 1] == '\r') << "bare CR or LF at " << i;
    }
}

TEST_F(SmtpSessionTest, FailuresInATransaction_FailingStepsCodeAndNoQuitInsideTheMessage)
{
    WriteBytes(TestHome() + "/big1", QByteArray(3 * 1024 * 1024, 'a'));
    WriteBytes(TestHome() + "/big2", QByteArray(2100 * 1024, 'b')); // together past 5120 KiB
    CSmtpMessage tooBig = TestMessage(), missing = TestMessage();
    tooBig.AddAttachment(TestHome().toLocal8Bit() + "/big1");
    tooBig.AddAttachment(TestHome().toLocal8Bit() + "/big2");
    missing.AddAttachment(TestHome().toLocal8Bit() + "/no-such-file");
    Script endRefused = UpToData({"\r\n.\r\n"});
    endRefused.push_back(Say("554 no\r\n"));
    struct Case
    {
        int code;
        QByteArray wireEnd; // what the client sent last
        CSmtpMessage message;
        Script script;
    };
    const Case cases[] = {
        // Refusals between commands: QUIT goes out, its reply (or refusal) never counts.
        {SmtpErrRcptTo, "RCPT TO:<rcpt@example.org>\r\nQUIT\r\n", TestMessage(),
         Replies({"250 ok\r\n", "250 ok\r\n", "550 no user\r\n"})},
        {SmtpErrRcptTo, "\r\nQUIT\r\n", TestMessage(),
         Replies({"250 ok\r\n", "250 ok\r\n", "550 no\r\n", "500 ?\r\n"})},
        {SmtpErrData, "DATA\r\nQUIT\r\n", TestMessage(),
         Replies({"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "554 no\r\n"})},
        {SmtpErrEndOfData, "\r\n.\r\nQUIT\r\n", TestMessage(), endRefused},
        // Failures inside a command or the message: the connection is just closed.
        {SmtpErrTimeout, "EHLO tester\r\nMAIL FROM:<from@example.org>\r\n", TestMessage(),
         Replies({"250 ok\r\n"})},
        {SmtpErrTimeout, "Fire in hall 3\r\n\r\n.\r\n", TestMessage(), UpToData({"\r\n.\r\n"})},
        {SmtpErrAttachmentSize, "\"\r\n\r\n", tooBig, UpToData({})},
        {SmtpErrAttachmentOpen, "\"\r\n\r\n", missing, UpToData({})},
    };
    for (const Case& k : cases) {
        ScriptedServer server(k.script);
        EXPECT_EQ(Send(server.port, k.message), k.code) << k.wireEnd.constData();
        EXPECT_FALSE(m_session->HasSocket());
        ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
        EXPECT_TRUE(server.Received().endsWith(k.wireEnd))
            << server.Received().right(200).constData();
    }
    ScriptedServer closed(UpToData({"Date", ""}));
    const int code = Send(closed.port, tooBig);
    EXPECT_TRUE(code == SmtpErrSend || code == SmtpErrClosed || code == SmtpErrReceive) << code;
}

TEST_F(SmtpSessionTest, StopEvent_EndsEveryBlockingStepWith418)
{
    // Security, what the client sends before it blocks, the server's part.
    const std::tuple<int, qsizetype, Script> cases[] = {
        {kPlain, 0, {}},                                              // no greeting
        {kTls, 1, {}},                                                // no handshake
        {kStartTls, 40, Replies({"250 STARTTLS\r\n", "220 go\r\n"})}, // nor after STARTTLS
        {kPlain, 13, {Say("220 hi\r\n")}},                            // no reply to EHLO
    };
    for (const auto& [security, bytes, script] : cases) {
        ScriptedServer server(script);
        m_stop.ResetEvent();
        std::thread stopper([&, bytes = bytes] {
            WaitUntil(
                [&] { return server.Connections() > 0 && server.Received().size() >= bytes; });
            SleepMs(50); // the client is waiting now
            m_stop.Set();
        });
        // Time-outs of minutes: only the stop event can end the wait.
        EXPECT_EQ(Connect(server.port, security, SmtpCommandTable::Default()), SmtpErrStopped);
        stopper.join();
        EXPECT_FALSE(m_session->HasSocket());
        EXPECT_FALSE(server.Received().contains("QUIT"));
    }
}
