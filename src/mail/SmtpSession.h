#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include <QByteArray>

#include "mail/SmtpMessage.h"
#include "platform/TcpClient.h"

class Event;

// The one exception of the SMTP client: a numeric error code and nothing else.
class ECSmtp
{
public:
    explicit ECSmtp(int code) : m_code(code) {}
    int Code() const { return m_code; }

private:
    int m_code;
};

// Error codes of ECSmtp. Only ever appended.
enum SmtpErrorCode : int
{
    SmtpErrSocketStart = 100,
    SmtpErrSocketVersion = 101,
    SmtpErrSend = 102,
    SmtpErrReceive = 103,
    SmtpErrConnect = 104,
    SmtpErrResolve = 105,
    SmtpErrSocketCreate = 106,
    SmtpErrHostName = 107,
    SmtpErrNonBlocking = 108,
    SmtpErrWait = 109,
    SmtpErrNoSender = 201,
    SmtpErrNoRecipient = 203,
    SmtpErrNoLogin = 204,
    SmtpErrNoPassword = 205,
    SmtpErrAuthMemory = 206,
    SmtpErrDigestChallenge = 207,
    SmtpErrPeerAddress = 208,
    SmtpErrRecipientAddress = 209,
    SmtpErrForbiddenCharacter = 210, // an address or header text holds CR, LF, '<' or '>'
    SmtpErrMailFrom = 300,
    SmtpErrEhlo = 301,
    SmtpErrAuthPlain = 302,
    SmtpErrAuthLogin = 303,
    SmtpErrAuthCramMd5 = 304,
    SmtpErrAuthDigestMd5 = 306,
    SmtpErrData = 307,
    SmtpErrQuit = 308,
    SmtpErrRcptTo = 309,
    SmtpErrEndOfData = 310,
    SmtpErrClosed = 400,
    SmtpErrTimeout = 402,
    SmtpErrConnectTimeout = 403,
    SmtpErrAttachmentOpen = 404,
    SmtpErrAttachmentSize = 405,
    SmtpErrAuthFinal = 406,
    SmtpErrAuthUserName = 407,
    SmtpErrBuffer = 408, // a buffer cannot be allocated, or a reply does not fit ReceiveBuffer
    SmtpErrClock = 409,
    SmtpErrCommandTooLong = 411, // a command or header does not fit SendBuffer
    SmtpErrStartTls = 413,
    SmtpErrTls = 414,
    SmtpErrStartTlsMissing = 416,
    SmtpErrNoMechanism = 417,
    SmtpErrStopped = 418 // the session's stop event was set during a blocking step
};

// A short English text for an error code (for the debug output); unknown codes give
// "unknown error".
const char* SmtpErrorText(int code);

// One protocol step of the session: the row of SmtpCommandTable it uses.
enum class SmtpStep
{
    Greeting,
    Ehlo,
    AuthPlain,
    AuthLogin,
    AuthCramMd5,
    DigestMd5,
    UserName,
    Password,
    MailFrom,
    RcptTo,
    Data,
    MessageData,
    EndOfData,
    Quit,
    StartTls,
    Count
};

// One row: time-outs of the send and of the whole reply, the reply code that counts as
// success and the error raised for any other code.
struct SmtpCommand
{
    int sendTimeoutMs;
    int replyTimeoutMs;
    int expectedCode;
    int errorCode;
};

// Every time-out of a session: one row per step plus the connect and TLS handshake waits.
struct SmtpCommandTable
{
    std::array<SmtpCommand, static_cast<std::size_t>(SmtpStep::Count)> rows{};
    int connectTimeoutMs = 180000;
    int handshakeTimeoutMs = 180000;

    const SmtpCommand& Row(SmtpStep step) const { return rows[static_cast<std::size_t>(step)]; }
    // The standard values: 300 s per step, 120 s for the DATA reply, 180 s for message data
    // and the end of data, 600 s for the final reply, 180 s to connect and per handshake
    // wait.
    static SmtpCommandTable Default();
    // A copy whose every time-out is ms (tests shrink the waits, never the code paths).
    SmtpCommandTable WithTimeouts(int ms) const;
};

// The SMTP client: one connection to one server and two fixed 10240-byte text buffers.
// Every failure raises ECSmtp. Every blocking step ends soon after the stop event handed to
// the constructor is set (error 418). One thread at a time.
class CSmtpSession
{
public:
    static constexpr int kBufferSize = 10240;

    enum Security
    {
        SecurityNone = 0,
        SecurityStartTls = 1,
        SecurityImplicitTls = 2,
        SecurityKeep = 3 // Connect only: leave Security as it is
    };

    // Starts the socket library, reads the host name and allocates the buffers. Raises 100,
    // 107 or 408. stop (may be null) must outlive the session.
    explicit CSmtpSession(const SmtpCommandTable& table = SmtpCommandTable::Default(),
                          const Event* stop = nullptr);
    // Disconnects (swallowing a failing QUIT), releases the socket library.
    virtual ~CSmtpSession();
    CSmtpSession(const CSmtpSession&) = delete;
    CSmtpSession& operator=(const CSmtpSession&) = delete;

    // Settings used by SendMail when it has to connect.
    void SetServer(const QByteArray& host, std::uint16_t port, bool authenticate);
    void SetLogin(const QByteArray& login) { m_authLogin = login; }
    void SetPassword(const QByteArray& password) { m_authPassword = password; }
    void SetSecurity(int security) { m_security = security; }
    // Certificate checks of TLS: on by default against the system trust store; caFile adds
    // trusted certificates (PEM).
    void SetVerifyCertificate(bool verify) { m_verifyCertificate = verify; }
    void SetCaFile(const QByteArray& caFile) { m_caFile = caFile; }
    // EHLO name; empty sends "domain".
    void SetLocalHostName(const QByteArray& name) { m_localHostName = name; }

    // Opens the connection, reads the greeting, sends EHLO, runs STARTTLS or TLS and
    // authenticates when asked and offered. A failure closes the connection and raises the
    // failing step's ECSmtp. Returns true.
    bool Connect(const QByteArray& host, std::uint16_t port, int security, bool authenticate,
                 const std::optional<QByteArray>& login = std::nullopt,
                 const std::optional<QByteArray>& password = std::nullopt);
    // Sends QUIT and reads its reply when the connection stands between two commands, then
    // closes the socket. The socket is closed even when QUIT fails; the failure is raised
    // afterwards.
    void Disconnect();
    // Carries message from MAIL FROM to the end of data; connects first when there is no
    // connection. A failure raises the failing step's ECSmtp after closing the connection:
    // with QUIT (its reply not awaited) when the server refused a command, without when
    // the failure struck inside a command, a reply or the message text.
    void SendMail(const CSmtpMessage& message);
    // True when text offers keyword: a case-blind match after "-", " " or "=" and before
    // " ", "=" or CR LF.
    static bool IsKeywordOffered(const QByteArray& text, const QByteArray& keyword);

    bool IsConnected() const { return m_connected; }
    bool HasSocket() const { return m_client.IsOpen(); }
    bool IsTlsActive() const { return m_client.IsTlsActive(); }
    int SecurityMode() const { return m_security; }
    // The last complete reply.
    QByteArray LastReply() const { return QByteArray(m_receiveBuffer.get(), m_receiveLength); }

private:
    // Where the connection stands; only Ready may take a QUIT after a failure.
    enum class State
    {
        Closed,   // no connection
        Exchange, // a command or reply is under way
        Ready,    // a complete reply was read: between two commands
        Message,  // inside the message text, after DATA's 354
        Broken    // a transport step failed: the connection is only fit to be closed
    };

    const SmtpCommand& Row(SmtpStep step) const { return m_table.Row(step); }
    void Enter(State state);
    [[noreturn]] void Fail(NetResult result, int timeoutCode);
    void SetCommandText(const QByteArray& text);
    void Command(SmtpStep step, const QByteArray& text);
    void SendCommand(SmtpStep step);
    void SendBytes(SmtpStep step, const char* data, std::size_t length);
    // Sends data of any length through SendBuffer, in pieces that fit it.
    void SendData(SmtpStep step, const QByteArray& data);
    std::size_t ReceiveChunk(std::uint64_t deadline);
    int ReadReply(SmtpStep step);
    void CloseAfterFailure(const ECSmtp& error, bool quitAllowed);
    void CloseConnection();
    void Hello();
    void StartTls();
    void TlsHandshake();
    void Quit();
    void Authenticate(const std::optional<QByteArray>& login,
                      const std::optional<QByteArray>& password);
    void AuthLogin();
    void AuthPlain();
    void AuthCramMd5();
    void AuthDigestMd5();

    SmtpCommandTable m_table;
    CTcpClient m_client;
    QByteArray m_localHostName;
    QByteArray m_authLogin;
    QByteArray m_authPassword;
    QByteArray m_serverHost;
    QByteArray m_connectHost;
    QByteArray m_caFile;
    std::uint16_t m_serverPort = 0;
    bool m_authRequested = true;
    bool m_verifyCertificate = true;
    std::unique_ptr<char[]> m_sendBuffer;
    std::unique_ptr<char[]> m_receiveBuffer;
    int m_receiveLength = 0;
    State m_state = State::Closed;
    bool m_connected = false;
    bool m_socketStarted = false;
    int m_security = SecurityNone;
};

// CRAM-MD5 answer of RFC 2195: login, a space and the lower-case hex HMAC-MD5 of the
// challenge keyed with the password.
QByteArray CramMd5Answer(const QByteArray& login, const QByteArray& password,
                         const QByteArray& challenge);
// DIGEST-MD5 response text of RFC 2831 (qop auth, no authorisation identity) for a decoded
// challenge. Returns false (error 207) when the challenge has no nonce or an unterminated
// nonce or realm.
bool DigestMd5Answer(const QByteArray& login, const QByteArray& password,
                     const QByteArray& challenge, const QByteArray& digestUri,
                     const QByteArray& cnonce, QByteArray* response);
