#include "mail/SmtpSession.h"

#include <ctime>

#include "mail/Md5.h"
#include "platform/Base64.h"
#include "platform/SocketConnect.h"

namespace {

// The quoted value after the first occurrence of name (skipping '=' and the opening
// quote). Returns 0 when found, 1 when the name is absent, 2 when the value is not closed.
int QuotedValue(const QByteArray& challenge, const char* name, QByteArray* value)
{
    const qsizetype at = challenge.indexOf(name);
    if (at < 0) {
        return 1;
    }
    const qsizetype start = at + static_cast<qsizetype>(qstrlen(name)) + 2;
    if (start > challenge.size()) {
        return 2;
    }
    const qsizetype end = challenge.indexOf('"', start);
    if (end < 0) {
        return 2;
    }
    *value = challenge.mid(start, end - start);
    return 0;
}

QByteArray ChallengeOf(const QByteArray& reply)
{
    // "334 " and then the Base64 challenge up to the line end (decoding stops there).
    return Base64Decode(reply.mid(4));
}

} // namespace

QByteArray CramMd5Answer(const QByteArray& login, const QByteArray& password,
                         const QByteArray& challenge)
{
    return login + ' ' + HmacMd5(password, challenge).toHex();
}

bool DigestMd5Answer(const QByteArray& login, const QByteArray& password,
                     const QByteArray& challenge, const QByteArray& digestUri,
                     const QByteArray& cnonce, QByteArray* response)
{
    QByteArray nonce;
    QByteArray realm;
    if (QuotedValue(challenge, "nonce", &nonce) != 0 ||
        QuotedValue(challenge, "realm", &realm) == 2) {
        return false;
    }
    const QByteArray nc = "00000001";
    const QByteArray qop = "auth";
    const QByteArray a1 = MD5::Raw(login + ':' + realm + ':' + password);
    const QByteArray ha1 = MD5::Hex(a1 + ':' + nonce + ':' + cnonce);
    const QByteArray ha2 = MD5::Hex("AUTHENTICATE:" + digestUri);
    const QByteArray answer =
        MD5::Hex(ha1 + ':' + nonce + ':' + nc + ':' + cnonce + ':' + qop + ':' + ha2);
    QByteArray text = "charset=utf-8,username=\"" + login + '"';
    if (!realm.isEmpty()) {
        text += ",realm=\"" + realm + '"';
    }
    text += ",nonce=\"" + nonce + "\",nc=" + nc + ",cnonce=\"" + cnonce + "\",digest-uri=\"" +
            digestUri + "\",response=" + answer + ",qop=" + qop;
    *response = text;
    return true;
}

void CSmtpSession::Authenticate(const std::optional<QByteArray>& login,
                                const std::optional<QByteArray>& password)
{
    if (login) {
        m_authLogin = *login;
    }
    if (m_authLogin.isEmpty()) {
        throw ECSmtp(SmtpErrNoLogin);
    }
    if (password) {
        m_authPassword = *password;
    }
    if (m_authPassword.isEmpty()) {
        throw ECSmtp(SmtpErrNoPassword);
    }
    const QByteArray offer = LastReply();
    if (IsKeywordOffered(offer, "LOGIN")) {
        AuthLogin();
    } else if (IsKeywordOffered(offer, "PLAIN")) {
        AuthPlain();
    } else if (IsKeywordOffered(offer, "CRAM-MD5")) {
        AuthCramMd5();
    } else if (IsKeywordOffered(offer, "DIGEST-MD5")) {
        AuthDigestMd5();
    } else {
        throw ECSmtp(SmtpErrNoMechanism);
    }
}

void CSmtpSession::AuthLogin()
{
    Command(SmtpStep::AuthLogin, "AUTH LOGIN\r\n");
    ReadReply(SmtpStep::AuthLogin);
    Command(SmtpStep::UserName, Base64Encode(m_authLogin) + "\r\n");
    ReadReply(SmtpStep::UserName);
    Command(SmtpStep::Password, Base64Encode(m_authPassword) + "\r\n");
    ReadReply(SmtpStep::Password);
}

void CSmtpSession::AuthPlain()
{
    const QByteArray message = '\0' + m_authLogin + '\0' + m_authPassword;
    Command(SmtpStep::AuthPlain, "AUTH PLAIN " + Base64Encode(message) + "\r\n");
    ReadReply(SmtpStep::AuthPlain);
}

void CSmtpSession::AuthCramMd5()
{
    Command(SmtpStep::AuthCramMd5, "AUTH CRAM-MD5\r\n");
    ReadReply(SmtpStep::AuthCramMd5);
    const QByteArray answer = CramMd5Answer(m_authLogin, m_authPassword, ChallengeOf(LastReply()));
    Command(SmtpStep::Password, Base64Encode(answer) + "\r\n");
    ReadReply(SmtpStep::Password);
}

void CSmtpSession::AuthDigestMd5()
{
    Command(SmtpStep::DigestMd5, "AUTH DIGEST-MD5\r\n");
    ReadReply(SmtpStep::DigestMd5);
    const QByteArray challenge = ChallengeOf(LastReply());
    SockAddrIn peer;
    if (!m_client.Peer(&peer)) {
        throw ECSmtp(SmtpErrPeerAddress);
    }
    const QByteArray digestUri = "smtp/" + FormatIpv4(peer.address).toLatin1();
    const QByteArray cnonce = QByteArray::number(static_cast<qulonglong>(std::time(nullptr)), 16);
    QByteArray response;
    if (!DigestMd5Answer(m_authLogin, m_authPassword, challenge, digestUri, cnonce, &response)) {
        throw ECSmtp(SmtpErrDigestChallenge);
    }
    Command(SmtpStep::DigestMd5, Base64Encode(response) + "\r\n");
    ReadReply(SmtpStep::DigestMd5);
    Command(SmtpStep::Password, "\r\n");
    ReadReply(SmtpStep::Password);
}
