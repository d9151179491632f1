// The session against scripted servers: exact wire texts, broken servers, failure paths.

#include <gtest/gtest.h>

#include <QTemporaryFile>

#include "MailTestSupport.h"
#include "platform/Base64.h"
#include "platform/Event.h"

namespace {

// A session with an EHLO name the tests can predict, talking to a scripted server.
class SmtpSessionTest : public testing::Test
{
protected:
    CSmtpSession& Session(std::uint16_t port, const SmtpCommandTable& table = FastTable())
    {
        m_session = std::make_unique<CSmtpSession>(table, &m_stop);
        m_session->SetLocalHostName("tester");
        m_session->SetServer("127.0.0.1", port, true);
        m_session->SetLogin("user");
        m_session->SetPassword("pass");
        return *m_session;
    }
    int Connect(std::uint16_t port, int security = CSmtpSession::SecurityNone,
                const SmtpCommandTable& table = FastTable())
    {
        return ErrorOf([&] { Session(port, table).Connect("127.0.0.1", port, security, true); });
    }
    int Send(std::uint16_t port, const CSmtpMessage& message = TestMessage())
    {
        return ErrorOf([&] {
            Session(port).SendMail(message);
            m_session->Disconnect();
        });
    }

    Event m_stop{Event::Reset::Manual};
    std::unique_ptr<CSmtpSession> m_session;
};

Script Greeted(const QByteArray& ehlo)
{
    return Replies({ehlo});
}

} // namespace

TEST(SmtpKeyword, OfferedOnlyBetweenSeparators)
{
    const QByteArray ehlo =
        "250-host\r\n250-AUTH LOGIN PLAIN\r\n250-AUTH=CRAM-MD5\r\n250 STARTTLS\r\n";
    const std::pair<QByteArray, bool> cases[] = {
        {"AUTH", true},     {"login", true}, {"PLAIN", true},       {"CRAM-MD5", true},
        {"STARTTLS", true}, {"LOG", false},  {"DIGEST-MD5", false},
    };
    for (const auto& [keyword, offered] : cases) {
        EXPECT_EQ(CSmtpSession::IsKeywordOffered(ehlo, keyword), offered) << keyword.constData();
    }
    for (const QByteArray text : {"AUTH LOGIN\r\n", "250 XAUTH\r\n", "250 AUTH", ""}) {
        EXPECT_FALSE(CSmtpSession::IsKeywordOffered(text, "AUTH")) << text.constData();
    }
}

TEST_F(SmtpSessionTest, MultiLineReplyInPieces_ReadAsOneReplyAndLoginSent)
{
    Script s{Say("22", {"0\r\n"}, 30)}; // "220" CR LF alone is a complete final line
    s.push_back(Hear());
    s.push_back(Say("250-first\r\n250-AU", {"TH LOGIN\r\n", "250-SIZE 1\r\n250 HE", "LP\r\n"}, 30));
    for (const char* reply :
         {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n", "221 bye\r\n"}) {
        Answer(s, reply);
    }
    ScriptedServer server(s);
    ASSERT_EQ(Connect(server.port), 0);
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
        ScriptedServer server(Greeted(ehlo)); // then silence
        Connect(server.port, CSmtpSession::SecurityNone, FastTable(100));
        ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
        EXPECT_EQ(server.Received(), "EHLO tester\r\n" + firstAuthLine);
    }
}

TEST_F(SmtpSessionTest, DigestMd5Exchange_UriFromPeerAddressAndEmptyFinalLine)
{
    ScriptedServer server(
        Replies({"250-h\r\n250 AUTH DIGEST-MD5\r\n",
                 "334 " + Base64Encode("nonce=\"abc\",qop=\"auth\"") + "\r\n",
                 "334 " + Base64Encode("rspauth=x") + "\r\n", "235 ok\r\n", "221 bye\r\n"}));
    ASSERT_EQ(Connect(server.port), 0);
    m_session->Disconnect();
    const QList<QByteArray> lines = server.Received().split('\n');
    ASSERT_EQ(lines.size(), 6);
    const QByteArray response = Base64Decode(lines[2]);
    EXPECT_TRUE(
        response.startsWith("charset=utf-8,username=\"user\",nonce=\"abc\",nc=00000001,cnonce=\""));
    EXPECT_TRUE(response.contains(",digest-uri=\"smtp/127.0.0.1\",response="));
    EXPECT_EQ(lines[3], QByteArray("\r"));
    EXPECT_EQ(lines[4], QByteArray("QUIT\r"));
}

TEST_F(SmtpSessionTest, ConnectFailures_CodeAndQuitOnlyAfterARefusal)
{
    struct Case
    {
        const char* name;
        Script script;
        int security;
        int code;
        QByteArray wire; // everything the client sent
    };
    const QByteArray login = "250-h\r\n250 AUTH LOGIN\r\n";
    Script closed = Greeted(login);
    closed.push_back(Hear());
    closed.push_back(Hangup());
    const Case cases[] = {
        {"535 to the password", Replies({login, "334 x\r\n", "334 y\r\n", "535 bad\r\n"}),
         CSmtpSession::SecurityNone, SmtpErrAuthFinal,
         "EHLO tester\r\nAUTH LOGIN\r\ndXNlcg==\r\ncGFzcw==\r\nQUIT\r\n"},
        {"530 to AUTH", Replies({login, "530 must STARTTLS\r\n"}), CSmtpSession::SecurityNone,
         SmtpErrAuthLogin, "EHLO tester\r\nAUTH LOGIN\r\n"},
        {"EHLO refused, no HELO", Replies({"502 no\r\n"}), CSmtpSession::SecurityNone, SmtpErrEhlo,
         "EHLO tester\r\n"},
        {"STARTTLS not offered", Greeted(login), CSmtpSession::SecurityStartTls,
         SmtpErrStartTlsMissing, "EHLO tester\r\nQUIT\r\n"},
        {"no known mechanism", Greeted("250-h\r\n250 AUTH GSSAPI NTLM\r\n"),
         CSmtpSession::SecurityNone, SmtpErrNoMechanism, "EHLO tester\r\nQUIT\r\n"},
        {"greeting not 220",
         {Say("554 go away\r\n")},
         CSmtpSession::SecurityNone,
         SmtpErrTimeout,
         ""},
        {"closed inside AUTH", closed, CSmtpSession::SecurityNone, SmtpErrClosed,
         "EHLO tester\r\nAUTH LOGIN\r\n"},
        {"silence after the greeting",
         {Say("220 hi\r\n")},
         CSmtpSession::SecurityNone,
         SmtpErrTimeout,
         "EHLO tester\r\n"},
        {"no CR LF", {Say("220 hello there")}, CSmtpSession::SecurityNone, SmtpErrTimeout, ""},
        {"non-numeric codes",
         {Say("abc hi\r\nxyz ok\r\n2x0 what\r\n")},
         CSmtpSession::SecurityNone,
         SmtpErrTimeout,
         ""},
        {"closed at once", {Hangup()}, CSmtpSession::SecurityNone, SmtpErrClosed, ""},
        {"plain text to a TLS client",
         {Say("220 plain\r\n")},
         CSmtpSession::SecurityImplicitTls,
         SmtpErrTls,
         {}},
        {"TLS handshake stalls", {}, CSmtpSession::SecurityImplicitTls, SmtpErrTimeout, {}},
    };
    for (const Case& k : cases) {
        ScriptedServer server(k.script);
        EXPECT_EQ(Connect(server.port, k.security, FastTable(300)), k.code) << k.name;
        EXPECT_FALSE(m_session->HasSocket()) << k.name;
        EXPECT_FALSE(m_session->IsConnected()) << k.name;
        ASSERT_TRUE(WaitUntil([&] { return server.Finished(); })) << k.name;
        if (!k.wire.isNull()) {
            EXPECT_EQ(server.Received(), k.wire) << k.name;
        }
    }
}

TEST_F(SmtpSessionTest, OverlongInput_RefusedWithinTheBuffers)
{
    QByteArray longReply;
    while (longReply.size() <= CSmtpSession::kBufferSize) {
        longReply += "250-" + QByteArray(200, 'k') + "\r\n";
    }
    for (const Script& s : {Script{Say(QByteArray(4 << 20, 'x'))},
                            Script{Say("220 " + QByteArray(1 << 20, 'a') + "\r\n")},
                            Greeted(longReply + "250 done\r\n")}) {
        ScriptedServer server(s);
        EXPECT_EQ(Connect(server.port), SmtpErrBuffer);
        EXPECT_LT(m_session->LastReply().size(), CSmtpSession::kBufferSize);
    }
    ScriptedServer server({Say("220 hi\r\n")});
    Session(server.port).SetLocalHostName(QByteArray(CSmtpSession::kBufferSize, 'h'));
    EXPECT_EQ(ErrorOf([&] { m_session->Connect("127.0.0.1", server.port, 0, true); }),
              SmtpErrCommandTooLong);
    const int code = Connect(FreePort());
    EXPECT_TRUE(code == SmtpErrConnect || code == SmtpErrWait) << code;
}

TEST_F(SmtpSessionTest, EmptyPasswordWithAuthOffered_205BeforeAnyAuthCommand)
{
    ScriptedServer server(Replies({"250-h\r\n250 AUTH LOGIN\r\n", "221 bye\r\n"}));
    Session(server.port).SetPassword("");
    EXPECT_EQ(ErrorOf([&] { m_session->Connect("127.0.0.1", server.port, 0, true); }),
              SmtpErrNoPassword);
    ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
    EXPECT_EQ(server.Received(), QByteArray("EHLO tester\r\nQUIT\r\n"));
}

TEST_F(SmtpSessionTest, MessageOnTheWire_RecipientsHeaderAndNormalisedBody)
{
    Script s = Replies(
        {"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"});
    s.push_back(Hear("\r\n.\r\n"));
    s.push_back(Say("250 queued\r\n"));
    Answer(s, "221 bye\r\n");
    ScriptedServer server(s);
    CSmtpMessage m = TestMessage({".", "a\r\n.\r\nQUIT", "bare\rCR.\r.x", "bare\nLF", "\n"});
    m.AddRecipient("b@example.org", "Bee ");
    m.AddCcRecipient("c@example.org");
    ASSERT_EQ(Send(server.port, m), 0);
    ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
    const QByteArray wire = server.Received();
    EXPECT_TRUE(wire.startsWith("EHLO tester\r\nMAIL FROM:<from@example.org>\r\nRCPT "
                                "TO:<rcpt@example.org>\r\nRCPT TO:<b@example.org>\r\nRCPT "
                                "TO:<c@example.org>\r\nDATA\r\nDate: "));
    EXPECT_TRUE(wire.contains("\r\nTo: <rcpt@example.org>,Bee <b@example.org>\r\nCc: "
                              "<c@example.org>\r\nSubject: Alarm Event\r\n"));
    // Every line end CR LF and every leading dot doubled: only our mark ends the data.
    EXPECT_TRUE(wire.endsWith("7bit\r\n\r\n..\r\na\r\n..\r\nQUIT\r\nbare\r\nCR.\r\n..x\r\n"
                              "bare\r\nLF\r\n\r\n\r\n\r\n.\r\nQUIT\r\n"))
        << wire.constData();
    EXPECT_EQ(wire.count("\r\n.\r\n"), 1);
    for (qsizetype i = 0; i < wire.size(); ++i) {
        ASSERT_EQ(wire[i] == '\n', i > 0 && wire[i - 1] == '\r') << "bare CR or LF at " << i;
    }
}

TEST_F(SmtpSessionTest, FailuresInATransaction_FailingStepsCodeAndNoQuitInsideTheMessage)
{
    QTemporaryFile big1(TestHome() + "/big1-XXXXXX"), big2(TestHome() + "/big2-XXXXXX");
    ASSERT_TRUE(big1.open() && big2.open());
    big1.write(QByteArray(3 * 1024 * 1024, 'a'));
    big2.write(QByteArray(2100 * 1024, 'b')); // together past 5120 KiB
    big1.flush();
    big2.flush();
    CSmtpMessage tooBig = TestMessage();
    tooBig.AddAttachment(big1.fileName().toLocal8Bit());
    tooBig.AddAttachment(big2.fileName().toLocal8Bit());
    CSmtpMessage missing = TestMessage();
    missing.AddAttachment(TestHome().toLocal8Bit() + "/no-such-file");

    const auto upToData = [](std::initializer_list<QByteArray> more) {
        Script s = Replies({"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"});
        for (const QByteArray& step : more) {
            s.push_back(step.isEmpty() ? Hangup() : Hear(step));
        }
        return s;
    };
    Script endRefused = upToData({"\r\n.\r\n"});
    endRefused.push_back(Say("554 no\r\n"));
    struct Case
    {
        const char* name;
        Script script;
        CSmtpMessage message;
        int code;
        QByteArray wireEnd; // what the client sent last
    };
    const Case cases[] = {
        {"RCPT refused, QUIT's reply never read",
         Replies({"250 ok\r\n", "250 ok\r\n", "550 no user\r\n"}), TestMessage(), SmtpErrRcptTo,
         "RCPT TO:<rcpt@example.org>\r\nQUIT\r\n"},
        {"RCPT refused, QUIT refused",
         Replies({"250 ok\r\n", "250 ok\r\n", "550 no\r\n", "500 ?\r\n"}), TestMessage(),
         SmtpErrRcptTo, "\r\nQUIT\r\n"},
        {"DATA refused", Replies({"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "554 no\r\n"}),
         TestMessage(), SmtpErrData, "DATA\r\nQUIT\r\n"},
        {"end of data refused", endRefused, TestMessage(), SmtpErrEndOfData, "\r\n.\r\nQUIT\r\n"},
        {"silent after MAIL FROM", Replies({"250 ok\r\n"}), TestMessage(), SmtpErrTimeout,
         "EHLO tester\r\nMAIL FROM:<from@example.org>\r\n"},
        {"silent after the end of data", upToData({"\r\n.\r\n"}), TestMessage(), SmtpErrTimeout,
         "Fire in hall 3\r\n\r\n.\r\n"},
        {"attachments too large", upToData({}), tooBig, SmtpErrAttachmentSize, "\"\r\n\r\n"},
        {"attachment missing", upToData({}), missing, SmtpErrAttachmentOpen, "\"\r\n\r\n"},
    };
    for (const Case& k : cases) {
        ScriptedServer server(k.script);
        EXPECT_EQ(Send(server.port, k.message), k.code) << k.name;
        EXPECT_FALSE(m_session->HasSocket()) << k.name;
        ASSERT_TRUE(WaitUntil([&] { return server.Finished(); })) << k.name;
        EXPECT_TRUE(server.Received().endsWith(k.wireEnd))
            << k.name << ": " << server.Received().right(200).constData();
    }
    ScriptedServer closed(upToData({"Date", ""}));
    const int code = Send(closed.port, tooBig);
    EXPECT_TRUE(code == SmtpErrSend || code == SmtpErrClosed || code == SmtpErrReceive) << code;
}

TEST_F(SmtpSessionTest, ForbiddenCharacters_RefusedBeforeConnecting)
{
    ScriptedServer server(HappyScript());
    for (const QByteArray& bad : {QByteArray("a@b.c\r\nRCPT TO:<x@y.z>"), QByteArray("a@b.c>"),
                                  QByteArray("<a@b.c"), QByteArray("a@b\n.c")}) {
        EXPECT_EQ(Send(server.port, TestMessage({}, bad)), SmtpErrForbiddenCharacter);
        CSmtpMessage sender = TestMessage();
        sender.SetSenderAddress(bad);
        EXPECT_EQ(Send(server.port, sender), SmtpErrForbiddenCharacter);
    }
    CSmtpMessage subject = TestMessage();
    subject.SetSubject("x\r\nBcc: victim@example.org");
    EXPECT_EQ(Send(server.port, subject), SmtpErrForbiddenCharacter);
    EXPECT_EQ(ErrorOf([] { CSmtpMessage().AddRecipient(""); }), SmtpErrRecipientAddress);
    EXPECT_EQ(server.Connections(), 0u);
}

TEST_F(SmtpSessionTest, StopEvent_EndsEveryBlockingStepWith418)
{
    Script startTls = Replies({"250-h\r\n250 STARTTLS\r\n", "220 go\r\n"}); // then no handshake
    struct Case
    {
        const char* name;
        Script script;
        int security;
        qsizetype clientBytes; // sent before the client blocks
    };
    const Case cases[] = {
        {"no greeting", {}, CSmtpSession::SecurityNone, 0},
        {"TLS handshake never answered", {}, CSmtpSession::SecurityImplicitTls, 1},
        {"STARTTLS handshake never answered", startTls, CSmtpSession::SecurityStartTls, 40},
        {"no reply to EHLO", {Say("220 hi\r\n")}, CSmtpSession::SecurityNone, 13},
    };
    for (const Case& k : cases) {
        ScriptedServer server(k.script);
        m_stop.ResetEvent();
        std::thread stopper([&] {
            WaitUntil([&] { return server.Received().size() >= k.clientBytes; });
            SleepMs(50); // the client is waiting now
            m_stop.Set();
        });
        // Time-outs of 300 s: only the stop event can end the wait.
        EXPECT_EQ(Connect(server.port, k.security, SmtpCommandTable::Default()), SmtpErrStopped)
            << k.name;
        stopper.join();
        EXPECT_FALSE(m_session->HasSocket()) << k.name;
        EXPECT_FALSE(server.Received().contains("QUIT")) << k.name;
    }
}
