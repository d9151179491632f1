#include <gtest/gtest.h>

#include <QRegularExpression>
#include <algorithm>

#include <QFileInfo>
#include <QTemporaryFile>

#include "MailTestSupport.h"
#include "platform/Base64.h"

namespace {

// A session with short time-outs, an EHLO name the tests can predict, talking to port.
struct Client
{
    explicit Client(std::uint16_t port, const SmtpCommandTable& table = FastTable())
        : session(table), m_port(port)
    {
        session.SetLocalHostName("tester");
        session.SetServer("127.0.0.1", port, true);
        session.SetLogin("user");
        session.SetPassword("pass");
    }
    int Connect(int security = CSmtpSession::SecurityNone)
    {
        return ErrorOf([&] { session.Connect("127.0.0.1", port(), security, true); });
    }
    std::uint16_t port() { return m_port; }
    CSmtpSession session;
    std::uint16_t m_port = 0;
};

// Greeting, then EHLO answered with ehlo; what follows is up to the test.
Script Greeted(const QByteArray& ehlo)
{
    Script s{Say("220 scripted\r\n")};
    Answer(s, ehlo);
    return s;
}

void AddMessage(CSmtpSession& s, const QByteArray& to = "rcpt@example.org")
{
    s.SetSenderAddress("from@example.org");
    s.AddRecipient(to);
    s.SetSubject("Alarm Event");
    s.SetMailer("Alarm");
    s.SetPriority(CSmtpSession::kPriorityHigh);
}

// The message text the server saw: from after the DATA command to the end-of-data mark.
QByteArray MessageOf(const QByteArray& wire)
{
    const qsizetype start = wire.indexOf("DATA\r\n") + 6;
    const qsizetype end = wire.indexOf("\r\n.\r\n", start);
    return wire.mid(start, end + 2 - start);
}

} // namespace

TEST(SmtpSession, KeywordOffered_Table)
{
    const QByteArray ehlo =
        "250-host\r\n250-AUTH LOGIN PLAIN\r\n250-AUTH=CRAM-MD5\r\n250 STARTTLS\r\n";
    EXPECT_TRUE(CSmtpSession::IsKeywordOffered(ehlo, "AUTH"));
    EXPECT_TRUE(CSmtpSession::IsKeywordOffered(ehlo, "login"));
    EXPECT_TRUE(CSmtpSession::IsKeywordOffered(ehlo, "PLAIN"));
    EXPECT_TRUE(CSmtpSession::IsKeywordOffered(ehlo, "CRAM-MD5"));
    EXPECT_TRUE(CSmtpSession::IsKeywordOffered(ehlo, "STARTTLS"));
    EXPECT_FALSE(CSmtpSession::IsKeywordOffered(ehlo, "LOG"));
    EXPECT_FALSE(CSmtpSession::IsKeywordOffered(ehlo, "DIGEST-MD5"));
    EXPECT_FALSE(CSmtpSession::IsKeywordOffered("AUTH LOGIN\r\n", "AUTH")); // at the very start
    EXPECT_FALSE(CSmtpSession::IsKeywordOffered("250 XAUTH\r\n", "AUTH"));
    EXPECT_FALSE(CSmtpSession::IsKeywordOffered("250 AUTH", "AUTH")); // nothing after it
    EXPECT_FALSE(CSmtpSession::IsKeywordOffered("", "AUTH"));
}

TEST(SmtpSession, MultiLineReplyOverSeveralWrites_ReadAsOneReply)
{
    Script s{SayInPieces({"22", "0\r\n"}, 30)}; // "220" CR LF alone is a complete final line
    s.push_back(Hear());
    s.push_back(SayInPieces(
        {"250-first line\r\n250-AU", "TH LOGIN\r\n", "250-SIZE 1000\r\n250 HE", "LP\r\n"}, 30));
    Answer(s, "334 VXNlcm5hbWU6\r\n");
    Answer(s, "334 UGFzc3dvcmQ6\r\n");
    Answer(s, "235 ok\r\n");
    Answer(s, "221 bye\r\n");
    ScriptedServer server(s);
    Client c(server.port);
    ASSERT_EQ(c.Connect(), 0);
    EXPECT_EQ(c.session.LastReply(), QByteArray("235 ok\r\n"));
    c.session.Disconnect();
    EXPECT_EQ(server.Received(),
              QByteArray("EHLO tester\r\nAUTH LOGIN\r\ndXNlcg==\r\ncGFzcw==\r\nQUIT\r\n"));
}

TEST(SmtpSession, MechanismChoice_FollowsPreferenceNotOfferOrder)
{
    struct Case
    {
        QByteArray ehlo;
        QByteArray firstAuthLine;
    };
    const Case cases[] = {
        {"250-h\r\n250-AUTH PLAIN LOGIN\r\n250 OK\r\n", "AUTH LOGIN\r\n"},
        {"250-h\r\n250 AUTH=LOGIN\r\n", "AUTH LOGIN\r\n"},
        {"250-h\r\n250 AUTH DIGEST-MD5 PLAIN CRAM-MD5\r\n", "AUTH PLAIN AHVzZXIAcGFzcw==\r\n"},
        {"250-h\r\n250 AUTH DIGEST-MD5 CRAM-MD5\r\n", "AUTH CRAM-MD5\r\n"},
        {"250-h\r\n250 AUTH DIGEST-MD5\r\n", "AUTH DIGEST-MD5\r\n"},
    };
    for (const Case& k : cases) {
        Script s = Greeted(k.ehlo);
        s.push_back(Hear()); // the first AUTH line; then silence
        ScriptedServer server(s);
        Client c(server.port, FastTable(100));
        c.Connect();
        ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
        const QByteArray wire = server.Received();
        EXPECT_TRUE(wire.startsWith("EHLO tester\r\n" + k.firstAuthLine)) << wire.constData();
    }
}

TEST(SmtpSession, DigestMd5Exchange_UriFromPeerAddressAndEmptyFinalLine)
{
    Script s = Greeted("250-h\r\n250 AUTH DIGEST-MD5\r\n");
    Answer(s, "334 " + Base64Encode("nonce=\"abc\",qop=\"auth\"") + "\r\n");
    Answer(s, "334 " + Base64Encode("rspauth=whatever") + "\r\n");
    Answer(s, "235 ok\r\n");
    Answer(s, "221 bye\r\n");
    ScriptedServer server(s);
    Client c(server.port);
    ASSERT_EQ(c.Connect(), 0);
    c.session.Disconnect();
    const QList<QByteArray> lines = Lines(server.Received());
    ASSERT_GE(lines.size(), 5);
    const QByteArray response = Base64Decode(lines[2]);
    EXPECT_TRUE(
        response.startsWith("charset=utf-8,username=\"user\",nonce=\"abc\",nc=00000001,cnonce=\""));
    EXPECT_TRUE(response.contains(",digest-uri=\"smtp/127.0.0.1\",response="))
        << response.constData();
    EXPECT_TRUE(response.endsWith(",qop=auth"));
    EXPECT_EQ(lines[3], QByteArray());
    EXPECT_EQ(lines[4], QByteArray("QUIT"));
}

TEST(SmtpSession, ConnectFailures_CodesAndQuitRule)
{
    struct Case
    {
        const char* name;
        Script script;
        int code;
        bool quitSent;
    };
    Script rejectedPassword = Greeted("250-h\r\n250 AUTH LOGIN\r\n");
    Answer(rejectedPassword, "334 x\r\n");
    Answer(rejectedPassword, "334 y\r\n");
    Answer(rejectedPassword, "535 5.7.8 bad credentials\r\n");
    Answer(rejectedPassword, "221 bye\r\n");
    Script mustLogIn = Greeted("250-h\r\n250 AUTH LOGIN\r\n");
    Answer(mustLogIn, "530 5.7.0 must issue STARTTLS first\r\n");
    Script ehloRefused{Say("220 scripted\r\n")};
    Answer(ehloRefused, "502 no EHLO here\r\n");
    Answer(ehloRefused, "221 bye\r\n");
    Script noStartTls = Greeted("250-h\r\n250 AUTH LOGIN\r\n");
    Answer(noStartTls, "221 bye\r\n");
    Script noMechanism = Greeted("250-h\r\n250 AUTH GSSAPI NTLM\r\n");
    Answer(noMechanism, "221 bye\r\n");
    Script badGreeting{Say("554 go away\r\n")};
    Script closedAfterEhlo = Greeted("250-h\r\n250 AUTH LOGIN\r\n");
    closedAfterEhlo.push_back(Hear());
    closedAfterEhlo.push_back(Hangup());

    std::vector<Case> cases;
    cases.push_back({"535 to the password", rejectedPassword, SmtpErrAuthFinal, true});
    cases.push_back({"530 to AUTH", mustLogIn, SmtpErrAuthLogin, false});
    cases.push_back(
        {"EHLO refused, no HELO", ehloRefused, SmtpErrEhlo, false}); // not yet connected
    cases.push_back({"STARTTLS not offered", noStartTls, SmtpErrStartTlsMissing, true});
    cases.push_back({"no known mechanism", noMechanism, SmtpErrNoMechanism, true});
    cases.push_back({"greeting not 220", badGreeting, SmtpErrTimeout, false});
    cases.push_back({"closed mid-exchange", closedAfterEhlo, SmtpErrSend, true});
    for (Case& k : cases) {
        ScriptedServer server(k.script);
        Client c(server.port);
        const int security = k.code == SmtpErrStartTlsMissing ? CSmtpSession::SecurityStartTls
                                                              : CSmtpSession::SecurityNone;
        const int code = c.Connect(security);
        // A closed connection shows as 400 on the read; the QUIT that follows fails to send.
        if (k.code == SmtpErrSend) {
            EXPECT_TRUE(code == SmtpErrSend || code == SmtpErrClosed || code == SmtpErrReceive)
                << k.name << " " << code;
        } else {
            EXPECT_EQ(code, k.code) << k.name;
        }
        EXPECT_FALSE(c.session.HasSocket()) << k.name;
        EXPECT_FALSE(c.session.IsConnected()) << k.name;
        if (k.code != SmtpErrSend) {
            ASSERT_TRUE(WaitUntil([&] { return server.Finished(); })) << k.name;
            EXPECT_EQ(server.Received().endsWith("QUIT\r\n"), k.quitSent)
                << k.name << ": " << server.Received().constData();
        }
        EXPECT_FALSE(server.Received().contains("HELO")) << k.name;
    }
}

TEST(SmtpSession, EmptyPasswordWithAuthOffered_205BeforeAnyAuthCommand)
{
    Script s = Greeted("250-h\r\n250 AUTH LOGIN\r\n");
    Answer(s, "221 bye\r\n");
    ScriptedServer server(s);
    Client c(server.port);
    c.session.SetPassword("");
    EXPECT_EQ(c.Connect(), SmtpErrNoPassword);
    ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
    EXPECT_EQ(server.Received(), QByteArray("EHLO tester\r\nQUIT\r\n"));
}

TEST(SmtpSession, HeaderLines_ExactOrderAndTexts)
{
    ScriptedServer server(HappyScript());
    Client c(server.port);
    AddMessage(c.session);
    c.session.AddBodyLine("Fire in hall 3");
    ASSERT_EQ(ErrorOf([&] { c.session.SendMail(); }), 0);
    c.session.Disconnect();
    ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
    const QByteArray message = MessageOf(server.Received());
    const QList<QByteArray> lines = Lines(message);
    ASSERT_EQ(lines.size(), 13) << message.constData();
    EXPECT_TRUE(QRegularExpression(
                    "^Date: [1-9]\\d? (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} "
                    "([1-9]?\\d):([1-9]?\\d):([1-9]?\\d)$")
                    .match(QString::fromLatin1(lines[0]))
                    .hasMatch())
        << lines[0].constData();
    EXPECT_EQ(lines[1], QByteArray("From:  <from@example.org>"));
    EXPECT_EQ(lines[2], QByteArray("X-Mailer: Alarm"));
    EXPECT_EQ(lines[3], QByteArray("X-Priority: 2 (High)"));
    EXPECT_EQ(lines[4], QByteArray("To: <rcpt@example.org>"));
    EXPECT_EQ(lines[5], QByteArray("Subject: Alarm Event"));
    EXPECT_EQ(lines[6], QByteArray("MIME-Version: 1.0"));
    EXPECT_EQ(lines[7], QByteArray("Content-type: text/plain; charset=\"US-ASCII\""));
    EXPECT_EQ(lines[8], QByteArray("Content-Transfer-Encoding: 7bit"));
    EXPECT_EQ(lines[9], QByteArray());
    EXPECT_EQ(lines[10], QByteArray("Fire in hall 3"));
    EXPECT_EQ(lines[11], QByteArray("")); // the end-of-data mark's own CR LF
}

TEST(SmtpSession, RecipientListsPriorityAndEmptyBody)
{
    ScriptedServer server([] {
        Script s{Say("220 scripted\r\n")};
        Answer(s, "250 ok\r\n");
        for (int i = 0; i < 4; ++i) {
            Answer(s, "250 ok\r\n"); // MAIL FROM and three RCPT TO
        }
        Answer(s, "354 go\r\n");
        s.push_back(HearData());
        s.push_back(Say("250 queued\r\n"));
        Answer(s, "221 bye\r\n");
        return s;
    }());
    Client c(server.port);
    c.session.SetSenderAddress("from@example.org");
    c.session.AddRecipient("a@example.org");
    c.session.AddRecipient("b@example.org", "Bee ");
    c.session.AddCcRecipient("c@example.org");
    c.session.SetPriority(7);
    EXPECT_EQ(ErrorOf([&] { c.session.AddRecipient(""); }), SmtpErrRecipientAddress);
    ASSERT_EQ(ErrorOf([&] { c.session.SendMail(); }), 0);
    c.session.Disconnect();
    ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
    const QByteArray wire = server.Received();
    EXPECT_TRUE(wire.contains(
        "RCPT TO:<a@example.org>\r\nRCPT TO:<b@example.org>\r\nRCPT TO:<c@example.org>\r\nDATA"));
    const QByteArray message = MessageOf(wire);
    EXPECT_TRUE(
        message.contains("\r\nX-Priority: 3 (Normal)\r\nTo: <a@example.org>,Bee <b@example.org>\r\n"
                         "Cc: <c@example.org>\r\nSubject:  \r\n"));
    EXPECT_TRUE(message.endsWith("7bit\r\n\r\n \r\n\r\n"))
        << message.constData(); // body: one space
}

TEST(SmtpSession, DotTransparency_BodyNeverEndsDataEarly)
{
    ScriptedServer server(HappyScript());
    Client c(server.port);
    AddMessage(c.session);
    c.session.AddBodyLine(".");
    c.session.AddBodyLine("a\r\n.\r\nQUIT");
    c.session.AddBodyLine(".leading dot");
    c.session.AddBodyLine("\n");
    ASSERT_EQ(ErrorOf([&] { c.session.SendMail(); }), 0);
    c.session.Disconnect();
    ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
    const QByteArray wire = server.Received();
    EXPECT_TRUE(
        wire.contains("\r\n\r\n..\r\na\r\n..\r\nQUIT\r\n..leading dot\r\n\n\r\n\r\n.\r\nQUIT\r\n"))
        << wire.constData();
    EXPECT_EQ(wire.count("\r\n.\r\n"), 1);
}

TEST(SmtpSession, ForbiddenCharactersInAddresses_RefusedBeforeConnecting)
{
    ScriptedServer server(HappyScript());
    for (const QByteArray& bad : {QByteArray("a@b.c\r\nRCPT TO:<x@y.z>"), QByteArray("a@b.c>"),
                                  QByteArray("<a@b.c"), QByteArray("a@b\n.c")}) {
        CSmtpSession recipient(FastTable());
        recipient.SetServer("127.0.0.1", server.port, true);
        AddMessage(recipient, bad);
        EXPECT_EQ(ErrorOf([&] { recipient.SendMail(); }), SmtpErrForbiddenCharacter);
        CSmtpSession sender(FastTable());
        sender.SetServer("127.0.0.1", server.port, true);
        AddMessage(sender);
        sender.SetSenderAddress(bad);
        EXPECT_EQ(ErrorOf([&] { sender.SendMail(); }), SmtpErrForbiddenCharacter);
    }
    CSmtpSession subject(FastTable());
    subject.SetServer("127.0.0.1", server.port, true);
    AddMessage(subject);
    subject.SetSubject("x\r\nBcc: victim@example.org");
    EXPECT_EQ(ErrorOf([&] { subject.SendMail(); }), SmtpErrForbiddenCharacter);
    EXPECT_EQ(server.Connections(), 0u);
}

TEST(SmtpSession, RefusedRecipient_EndsTransactionWithQuit)
{
    Script s{Say("220 scripted\r\n")};
    Answer(s, "250 ok\r\n");
    Answer(s, "250 ok\r\n");
    Answer(s, "550 no such user\r\n");
    Answer(s, "221 bye\r\n");
    ScriptedServer server(s);
    Client c(server.port);
    AddMessage(c.session);
    c.session.AddRecipient("second@example.org");
    EXPECT_EQ(ErrorOf([&] { c.session.SendMail(); }), SmtpErrRcptTo);
    EXPECT_FALSE(c.session.HasSocket());
    ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
    EXPECT_TRUE(server.Received().endsWith("RCPT TO:<rcpt@example.org>\r\nQUIT\r\n"));
}

TEST(SmtpSession, Attachments_PiecesOf54BytesAndSizeLimit)
{
    QTemporaryFile small(TestHome() + "/att-XXXXXX.bin");
    ASSERT_TRUE(small.open());
    small.write(QByteArray(108, 'z'));
    small.flush();
    ScriptedServer server(HappyScript());
    Client c(server.port);
    AddMessage(c.session);
    c.session.AddBodyLine("see attachment");
    c.session.AddAttachment(small.fileName().toLocal8Bit());
    ASSERT_EQ(ErrorOf([&] { c.session.SendMail(); }), 0);
    c.session.Disconnect();
    ASSERT_TRUE(WaitUntil([&] { return server.Finished(); }));
    const QByteArray message = MessageOf(server.Received());
    const QByteArray name = QFileInfo(small.fileName()).fileName().toLocal8Bit();
    const QByteArray line = Base64Encode(QByteArray(54, 'z'));
    EXPECT_TRUE(message.contains(
        "Content-Type: multipart/mixed; boundary=\"__MESSAGE__ID__54yg6f6h6y456345\"\r\n\r\n"
        "--__MESSAGE__ID__54yg6f6h6y456345\r\nContent-type: text/plain; charset=US-ASCII\r\n"));
    EXPECT_TRUE(message.endsWith("see attachment\r\n--__MESSAGE__ID__54yg6f6h6y456345\r\n"
                                 "Content-Type: application/x-msdownload; name=\"" +
                                 name +
                                 "\"\r\nContent-Transfer-Encoding: base64\r\n"
                                 "Content-Disposition: attachment; filename=\"" +
                                 name + "\"\r\n\r\n" + line + "\r\n" + line +
                                 "\r\n\r\n\r\n--__MESSAGE__ID__54yg6f6h6y456345--\r\n\r\n"))
        << message.right(400).constData();

    // 3 MiB and 2.1 MiB: the second passes 5120 KiB and fails after its part header.
    QTemporaryFile big1(TestHome() + "/big1-XXXXXX"), big2(TestHome() + "/big2-XXXXXX");
    ASSERT_TRUE(big1.open() && big2.open());
    big1.write(QByteArray(3 * 1024 * 1024, 'a'));
    big2.write(QByteArray(2100 * 1024, 'b'));
    big1.flush();
    big2.flush();
    ScriptedServer limited([&] {
        Script t{Say("220 scripted\r\n")};
        Answer(t, "250 ok\r\n");
        Answer(t, "250 ok\r\n");
        Answer(t, "250 ok\r\n");
        Answer(t, "354 go\r\n");
        t.push_back(HearUntil("QUIT\r\n"));
        t.push_back(Say("221 bye\r\n"));
        return t;
    }());
    Client d(limited.port);
    AddMessage(d.session);
    d.session.AddAttachment(big1.fileName().toLocal8Bit());
    d.session.AddAttachment(big2.fileName().toLocal8Bit());
    EXPECT_EQ(ErrorOf([&] { d.session.SendMail(); }), SmtpErrAttachmentSize);
    EXPECT_FALSE(d.session.HasSocket());
    ASSERT_TRUE(WaitUntil([&] { return limited.Finished(); }));
    const QByteArray wire = limited.Received();
    const QByteArray secondName = QFileInfo(big2.fileName()).fileName().toLocal8Bit();
    EXPECT_TRUE(wire.contains("filename=\"" + secondName + "\"\r\n\r\nQUIT\r\n"))
        << wire.right(300).constData();

    CSmtpSession missing(FastTable());
    Script t{Say("220 scripted\r\n")};
    for (const char* reply : {"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"}) {
        Answer(t, reply);
    }
    t.push_back(HearUntil("QUIT\r\n"));
    t.push_back(Say("221 bye\r\n"));
    ScriptedServer third(t);
    missing.SetServer("127.0.0.1", third.port, true);
    AddMessage(missing);
    missing.AddAttachment(TestHome().toLocal8Bit() + "/no-such-file");
    EXPECT_EQ(ErrorOf([&] { missing.SendMail(); }), SmtpErrAttachmentOpen);
}

TEST(SmtpSession, BrokenServers_RefusedWithinTimeOutsAndBuffers)
{
    struct Case
    {
        const char* name;
        Script script;
        int security;
        std::vector<int> codes;
    };
    QByteArray longMultiLine;
    while (longMultiLine.size() <= CSmtpSession::kBufferSize) {
        longMultiLine += "250-" + QByteArray(200, 'k') + "\r\n";
    }
    longMultiLine += "250 done\r\n";
    std::vector<Case> cases;
    cases.push_back({"silence after the greeting",
                     {Say("220 hi\r\n")},
                     CSmtpSession::SecurityNone,
                     {SmtpErrTimeout}});
    cases.push_back(
        {"no CR LF", {Say("220 hello there")}, CSmtpSession::SecurityNone, {SmtpErrTimeout}});
    cases.push_back({"non-numeric codes",
                     {Say("abc hello\r\nxyz ok\r\n2x0 what\r\n")},
                     CSmtpSession::SecurityNone,
                     {SmtpErrTimeout}});
    cases.push_back({"endless data",
                     {Say(QByteArray(4 << 20, 'x'))},
                     CSmtpSession::SecurityNone,
                     {SmtpErrBuffer}});
    cases.push_back({"line of 1 MB",
                     {Say("220 " + QByteArray(1 << 20, 'a') + "\r\n")},
                     CSmtpSession::SecurityNone,
                     {SmtpErrBuffer}});
    cases.push_back({"reply longer than the buffer",
                     Greeted(longMultiLine),
                     CSmtpSession::SecurityNone,
                     {SmtpErrBuffer}});
    cases.push_back({"closed at once",
                     {Hangup()},
                     CSmtpSession::SecurityNone,
                     {SmtpErrClosed, SmtpErrReceive}});
    cases.push_back(
        {"TLS handshake stalls", {Wait(0)}, CSmtpSession::SecurityImplicitTls, {SmtpErrTimeout}});
    cases.push_back({"plain text for a TLS client",
                     {Say("220 plain\r\n")},
                     CSmtpSession::SecurityImplicitTls,
                     {SmtpErrTls}});
    for (Case& k : cases) {
        ScriptedServer server(k.script);
        Client c(server.port, FastTable(300));
        const int code = c.Connect(k.security);
        EXPECT_NE(std::find(k.codes.begin(), k.codes.end(), code), k.codes.end())
            << k.name << ": " << code;
        EXPECT_FALSE(c.session.HasSocket()) << k.name;
        EXPECT_LT(c.session.LastReply().size(), CSmtpSession::kBufferSize) << k.name;
    }
}

TEST(SmtpSession, OverlongCommandAndUnreachableServer_Refused)
{
    ScriptedServer server({Say("220 hi\r\n")});
    Client c(server.port, FastTable(300));
    c.session.SetLocalHostName(QByteArray(CSmtpSession::kBufferSize, 'h'));
    EXPECT_EQ(c.Connect(), SmtpErrCommandTooLong);
    EXPECT_FALSE(c.session.HasSocket());

    Client nobody(FreePort(), FastTable(300));
    const int code = nobody.Connect();
    EXPECT_TRUE(code == SmtpErrConnect || code == SmtpErrWait) << code;
    EXPECT_FALSE(nobody.session.HasSocket());
}
