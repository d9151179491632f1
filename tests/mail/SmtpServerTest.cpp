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

// Sends one test mail; returns the ECSmtp code or 0.
int SendOne(SmtpPeer& peer, int security = 0, const QByteArray& caFile = {}, bool verify = true,
            const QByteArray& password = SmtpPeer::kPassword,
            const CSmtpMessage& message = TestMessage(), const QByteArray& host = "127.0.0.1")
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
        s.SendMail(message);
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
    const std::pair<const char*, int> cases[] = {{"LOGIN", SmtpErrAuthFinal},
                                                 {"PLAIN", SmtpErrAuthPlain},
                                                 {"CRAM-MD5", SmtpErrAuthFinal},
                                                 {"DIGEST-MD5", SmtpErrAuthDigestMd5}};
    for (const auto& [mechanism, wrongPasswordCode] : cases) {
        SmtpPeer& peer = Peer(mechanism);
        ASSERT_TRUE(peer.ok()) << mechanism;
        EXPECT_EQ(SendOne(peer), 0) << mechanism;
        ASSERT_TRUE(peer.WaitMessages(1));
        const QJsonObject m = peer.Messages().front();
        EXPECT_EQ(m.value("mechanism").toString(), QString(mechanism));
        EXPECT_EQ(m.value("login").toString(), QString(SmtpPeer::kUser));
        EXPECT_EQ(SendOne(peer, 0, {}, true, "wrong"), wrongPasswordCode) << mechanism;
        EXPECT_EQ(peer.Messages().size(), 1u) << mechanism;
    }
    SmtpPeer& all = Peer();
    ASSERT_EQ(SendOne(all), 0);
    ASSERT_TRUE(all.WaitMessages(1));
    EXPECT_EQ(all.Messages().back().value("mechanism").toString(), QString("LOGIN"));
}

TEST(SmtpServer, Tls_CarriesTheTransactionOnlyToATrustedServer)
{
    SmtpPeer& peer = Peer();
    ASSERT_TRUE(peer.ok());
    const QByteArray missing = TestHome().toLocal8Bit() + "/missing.pem";
    for (const int security : {CSmtpSession::SecurityStartTls, CSmtpSession::SecurityImplicitTls}) {
        const std::size_t before = peer.Messages().size();
        EXPECT_EQ(SendOne(peer, security), SmtpErrTls) << security;
        EXPECT_EQ(SendOne(peer, security, missing), SmtpErrTls);
        ASSERT_EQ(SendOne(peer, security, peer.caFile), 0) << security;
        ASSERT_EQ(SendOne(peer, security, {}, false), 0) << security;
        // The host name is checked too: "localhost" is in the certificate.
        ASSERT_EQ(SendOne(peer, security, peer.caFile, true, SmtpPeer::kPassword, TestMessage(),
                          "localhost"),
                  0);
        ASSERT_TRUE(peer.WaitMessages(before + 3));
        EXPECT_EQ(peer.Messages().size(), before + 3);
        for (std::size_t i = before; i < before + 3; ++i) {
            EXPECT_TRUE(peer.Messages()[i].value("tls").toBool()) << security;
            EXPECT_EQ(Body(peer.Messages()[i]), QByteArray("Fire in hall 3\r\n\r\n"));
        }
    }
}

TEST(SmtpServer, DotsAndBareLineEnds_ArriveAsLinesNeverAsAnEndOfData)
{
    SmtpPeer& peer = Peer();
    ASSERT_TRUE(peer.ok());
    const std::size_t before = peer.Messages().size();
    ASSERT_EQ(SendOne(peer, 0, {}, true, SmtpPeer::kPassword,
                      TestMessage({".", "a\r\n.\r\nQUIT", "..two", "x\r.\ry", "\n"})),
              0);
    ASSERT_TRUE(peer.WaitMessages(before + 1));
    EXPECT_EQ(Body(peer.Messages().back()),
              QByteArray(".\r\na\r\n.\r\nQUIT\r\n..two\r\nx\r\n.\r\ny\r\n\r\n\r\n\r\n"));
}
