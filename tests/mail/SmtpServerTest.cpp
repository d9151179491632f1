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
        p = std::make_unique<SmtpPeer>(mechanisms);
    }
    return *p;
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

TEST(SmtpServer, EachMechanism_AcceptedByTheRealServer_WrongPasswordRefused)
{
    const std::pair<QString, int> cases[] = {{"LOGIN", SmtpErrAuthFinal},
                                             {"PLAIN", SmtpErrAuthPlain},
                                             {"CRAM-MD5", SmtpErrAuthFinal},
                                             {"DIGEST-MD5", SmtpErrAuthDigestMd5}};
    for (const auto& [mechanism, wrongPasswordCode] : cases) {
        SmtpPeer& peer = Peer(mechanism);
        ASSERT_TRUE(peer.ok());
        EXPECT_EQ(SendOne(peer), 0) << mechanism.toStdString();
        EXPECT_EQ(peer.Message(0).value("mechanism").toString(), mechanism);
        EXPECT_EQ(peer.Message(0).value("login").toString(), QString(SmtpPeer::kUser));
        EXPECT_EQ(SendOne(peer, 0, {}, true, "wrong"), wrongPasswordCode)
            << mechanism.toStdString();
        EXPECT_EQ(peer.Messages().size(), 1u);
    }
    ASSERT_EQ(SendOne(Peer()), 0); // every one offered: LOGIN first
    EXPECT_EQ(Peer().Message(0).value("mechanism").toString(), QString("LOGIN"));
}

TEST(SmtpServer, Tls_CarriesTheTransactionOnlyToATrustedServer)
{
    SmtpPeer& peer = Peer();
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
