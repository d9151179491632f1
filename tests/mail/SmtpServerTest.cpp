// The session against the real SMTP server of tests/tools/smtp_server.py.

#include <gtest/gtest.h>

#include <map>

#include "MailTestSupport.h"

namespace {

// One server per offered mechanism list, started once for the whole program.
SmtpPeer& Peer(const QString& mechanisms = "LOGIN,PLAIN,CRAM-MD5,DIGEST-MD5")
{
    static std::map<QString, std::unique_ptr<SmtpPeer>> peers;
    auto& p = peers[mechanisms];
    if (!p) {
        p = std::make_unique<SmtpPeer>(QStringList{"--mechanisms", mechanisms});
    }
    return *p;
}

// Sends one mail with body lines; returns the ECSmtp code or 0.
int SendOne(SmtpPeer& peer, int security, const QByteArray& password, const QList<QByteArray>& body,
            const QByteArray& caFile = {}, bool verify = true, const QByteArray& host = "127.0.0.1")
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
        s.SetSenderAddress("sender@example.org");
        s.AddRecipient("rcpt@example.org");
        s.SetSubject("Alarm Event");
        for (const QByteArray& line : body) {
            s.AddBodyLine(line);
        }
        s.SendMail();
        s.Disconnect();
    });
}

QByteArray Body(const QJsonObject& message)
{
    const QByteArray content = message.value("content").toString().toLatin1();
    return content.mid(content.indexOf("\r\n\r\n") + 4);
}

} // namespace

TEST(SmtpServer, EachMechanism_AcceptedByTheRealServer_WrongPasswordRefused)
{
    struct Case
    {
        const char* mechanism;
        int wrongPasswordCode;
    };
    const Case cases[] = {{"LOGIN", SmtpErrAuthFinal},
                          {"PLAIN", SmtpErrAuthPlain},
                          {"CRAM-MD5", SmtpErrAuthFinal},
                          {"DIGEST-MD5", SmtpErrAuthDigestMd5}};
    for (const Case& k : cases) {
        SmtpPeer& peer = Peer(k.mechanism);
        ASSERT_TRUE(peer.ok()) << k.mechanism;
        EXPECT_EQ(SendOne(peer, CSmtpSession::SecurityNone, SmtpPeer::kPassword, {"hello"}), 0)
            << k.mechanism;
        ASSERT_TRUE(peer.WaitMessages(1));
        const QJsonObject m = peer.Messages().front();
        EXPECT_EQ(m.value("mechanism").toString(), QString(k.mechanism));
        EXPECT_EQ(m.value("login").toString(), QString(SmtpPeer::kUser));
        EXPECT_EQ(m.value("mail_from").toString(), QString("sender@example.org"));
        EXPECT_EQ(SendOne(peer, CSmtpSession::SecurityNone, "wrong", {"hello"}),
                  k.wrongPasswordCode)
            << k.mechanism;
        EXPECT_EQ(peer.Messages().size(), 1u) << k.mechanism;
    }
}

TEST(SmtpServer, AllMechanismsOffered_LoginChosen)
{
    SmtpPeer& peer = Peer();
    ASSERT_TRUE(peer.ok());
    const std::size_t before = peer.Messages().size();
    ASSERT_EQ(SendOne(peer, CSmtpSession::SecurityNone, SmtpPeer::kPassword, {"x"}), 0);
    ASSERT_TRUE(peer.WaitMessages(before + 1));
    EXPECT_EQ(peer.Messages().back().value("mechanism").toString(), QString("LOGIN"));
}

TEST(SmtpServer, StartTlsAndImplicitTls_CarryTheWholeTransaction)
{
    SmtpPeer& peer = Peer();
    ASSERT_TRUE(peer.ok());
    const QByteArray ca = peer.caFile.toLocal8Bit();
    for (const int security : {CSmtpSession::SecurityStartTls, CSmtpSession::SecurityImplicitTls}) {
        const std::size_t before = peer.Messages().size();
        ASSERT_EQ(SendOne(peer, security, SmtpPeer::kPassword, {"secret alarm"}, ca), 0)
            << security;
        ASSERT_TRUE(peer.WaitMessages(before + 1));
        const QJsonObject m = peer.Messages().back();
        EXPECT_TRUE(m.value("tls").toBool()) << security;
        EXPECT_EQ(m.value("login").toString(), QString(SmtpPeer::kUser));
        EXPECT_EQ(Body(m), QByteArray("secret alarm\r\n\r\n")); // the end mark's own CR LF
    }
    // The host name is checked too: "localhost" is in the certificate.
    EXPECT_EQ(SendOne(peer, CSmtpSession::SecurityStartTls, SmtpPeer::kPassword, {"x"}, ca, true,
                      "localhost"),
              0);
    ASSERT_TRUE(WaitUntil([&] { return !peer.Transcripts().empty(); }));
    bool sawStartTls = false;
    for (const QByteArray& t : peer.Transcripts()) {
        sawStartTls = sawStartTls || t.contains("C: STARTTLS\r\nS: 220");
    }
    EXPECT_TRUE(sawStartTls);
}

TEST(SmtpServer, UntrustedCertificate_414UnlessTrustedOrUnchecked)
{
    SmtpPeer& peer = Peer();
    ASSERT_TRUE(peer.ok());
    const std::size_t before = peer.Messages().size();
    for (const int security : {CSmtpSession::SecurityStartTls, CSmtpSession::SecurityImplicitTls}) {
        EXPECT_EQ(SendOne(peer, security, SmtpPeer::kPassword, {"x"}), SmtpErrTls) << security;
        EXPECT_EQ(SendOne(peer, security, SmtpPeer::kPassword, {"x"},
                          TestHome().toLocal8Bit() + "/missing.pem"),
                  SmtpErrTls)
            << security;
        EXPECT_EQ(SendOne(peer, security, SmtpPeer::kPassword, {"x"}, {}, false), 0) << security;
    }
    ASSERT_TRUE(peer.WaitMessages(before + 2));
    EXPECT_EQ(peer.Messages().size(), before + 2);
}

TEST(SmtpServer, DotLinesAndEmbeddedEndMark_ArriveIntact)
{
    SmtpPeer& peer = Peer();
    ASSERT_TRUE(peer.ok());
    const std::size_t before = peer.Messages().size();
    ASSERT_EQ(SendOne(peer, CSmtpSession::SecurityNone, SmtpPeer::kPassword,
                      {".", "a\r\n.\r\nQUIT", "..two", "\n"}),
              0);
    ASSERT_TRUE(peer.WaitMessages(before + 1));
    EXPECT_EQ(Body(peer.Messages().back()),
              QByteArray(".\r\na\r\n.\r\nQUIT\r\n..two\r\n\n\r\n\r\n"));
}
