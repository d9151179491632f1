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
        s.push_back({mark, {}, mark.isEmpty()});
    }
    return s;
}

// Sends the test mail; returns the ECSmtp code or 0.
int SendOne(SmtpPeer& peer, int security = 0, const QByteArray& caFile = {}, bool verify = true,
            const QByteArray& password = SmtpPeer::kPassword, const QByteArray& host = "127.0.0.1")
{
    return ErrorOf([&] {
        CSmtpSession s(FastTable(5000));
        s.SetServer(host,
                    security == CSmtpSession::SecurityImplicitTls ? peer.tlsPort : peer.plainPort,
                    true);
        s.SetSecurity(security);
        s.SetCaFile(caFile);
        s.SetVerifyCertificate(verify);
        s.SetLogin(SmtpPeer::kUser);
        s.SetPassword(password);
        s.SendMail(TestMessage());
        s.Disconnect();
    });
}

} // namespace

TEST(SmtpKeyword, OfferedOnlyBetweenSeparators)
{
    const QByteArray ehlo =
        "250-h\r\n250-AUTH LOGIN PLAIN\r\n250-AUTH=CRAM-MD5\r\n250 STARTTLS\r\n";
    for (const char* keyword : {"AUTH", "login", "PLAIN", "CRAM-MD5", "STARTTLS"}) {
        EXPECT_TRUE(CSmtpSession::IsKeywordOffered(ehlo, keyword)) << keyword;
    }
    for (const char* keyword : {"LOG", "DIGEST-MD5", "250", "TLS"}) {
        EXPECT_FALSE(CSmtpSession::IsKeywordOffered(ehlo, keyword)) << keyword;
    }
    for (const char* text : {"AUTH X\r\n", "250 XAUTH\r\n", "250 AUTH", ""}) {
        EXPECT_FALSE(CSmtpSession::IsKeywordOffered(text, "AUTH")) << text;
    }
}

TEST_F(SmtpSessionTest, MultiLineReplyInPieces_ReadAsOneReplyAndLoginSent)
{
    // "220" CR LF alone is a complete final line; the pieces come 30 ms apart.
    Script s{
        {{}, {"22", "0\r\n"}, false},
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
    const QByteArray longReply = ("250-" + QByteArray(200, 'k') + "\r\n").repeated(60);
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
        {kPlain, SmtpErrTimeout, "", {Say("abc hi\r\nxyz ok\r\n2x0 what\r\n220 no line end")}},
        {kPlain, SmtpErrClosed, "", {{{}, {}, true}}},
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

// Against the real SMTP server of tests/tools/smtp_server.py.
TEST(SmtpServer, EachMechanism_AcceptedByTheRealServer_WrongPasswordRefused)
{
    const std::pair<QString, int> cases[] = {{"LOGIN", SmtpErrAuthFinal},
                                             {"PLAIN", SmtpErrAuthPlain},
                                             {"CRAM-MD5", SmtpErrAuthFinal},
                                             {"DIGEST-MD5", SmtpErrAuthDigestMd5}};
    for (const auto& [mechanism, wrongPasswordCode] : cases) {
        SmtpPeer& peer = SharedPeer(mechanism);
        ASSERT_TRUE(peer.ok());
        EXPECT_EQ(SendOne(peer), 0) << mechanism.toStdString();
        EXPECT_EQ(peer.Message(0).value("login").toString(), QString(SmtpPeer::kUser));
        EXPECT_EQ(SendOne(peer, 0, {}, true, "wrong"), wrongPasswordCode)
            << mechanism.toStdString();
        EXPECT_EQ(peer.Messages().size(), 1u);
    }
}

TEST(SmtpServer, Tls_CarriesTheTransactionOnlyToATrustedServer)
{
    SmtpPeer& peer = SharedPeer();
    ASSERT_TRUE(peer.ok());
    const QByteArray missing = TestHome().toLocal8Bit() + "/missing.pem";
    for (const int security : {CSmtpSession::SecurityStartTls, CSmtpSession::SecurityImplicitTls}) {
        const std::size_t before = peer.Messages().size();
        EXPECT_EQ(SendOne(peer, security), SmtpErrTls) << security;
        EXPECT_EQ(SendOne(peer, security, missing), SmtpErrTls) << security;
        EXPECT_EQ(SendOne(peer, security, peer.caFile), 0) << security;
        EXPECT_EQ(SendOne(peer, security, {}, false), 0) << security;
        // The host name is checked too: "localhost" is in the certificate.
        EXPECT_EQ(SendOne(peer, security, peer.caFile, true, SmtpPeer::kPassword, "localhost"), 0);
        for (std::size_t i = before; i < before + 3; ++i) {
            const QJsonObject m = peer.Message(i);
            EXPECT_TRUE(m.value("tls").toBool()) << security;
            EXPECT_TRUE(m.value("content").toString().endsWith("\r\n\r\nFire in hall 3\r\n\r\n"));
        }
        EXPECT_EQ(peer.Messages().size(), before + 3);
    }
}
