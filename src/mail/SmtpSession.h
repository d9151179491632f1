#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QByteArray>

#include "platform/Socket.h"

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
    SmtpErrNoMechanism = 417
};

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
    // The design's values: 300 s per step, 120 s for the DATA reply, 180 s for message data
    // and the end of data, 600 s for the final reply, 180 s to connect and per handshake
    // wait.
    static SmtpCommandTable Default();
    // A copy whose every time-out is ms (tests shrink the waits, never the code paths).
    SmtpCommandTable WithTimeouts(int ms) const;
};

// The SMTP client: one connection to one server, the settings of one message and two
// fixed 10240-byte text buffers. Every failure raises ECSmtp. One thread at a time.
class CSmtpSession
{
public:
    static constexpr int kBufferSize = 10240;
    static constexpr int kPriorityHigh = 2;
    static constexpr int kPriorityNormal = 3;
    static constexpr int kPriorityLow = 4;

    enum Security
    {
        SecurityNone = 0,
        SecurityStartTls = 1,
        SecurityImplicitTls = 2,
        SecurityKeep = 3 // Connect only: leave Security as it is
    };

    struct Recipient
    {
        QByteArray name;
        QByteArray address;
    };

    // Starts the socket library, reads the host name and allocates the buffers. Raises 100,
    // 101, 107 or 408.
    explicit CSmtpSession(const SmtpCommandTable& table = SmtpCommandTable::Default());
    // Disconnects (swallowing a failing QUIT), releases TLS and the socket library.
    virtual ~CSmtpSession();
    CSmtpSession(const CSmtpSession&) = delete;
    CSmtpSession& operator=(const CSmtpSession&) = delete;

    // Settings used by SendMail.
    void SetServer(const QByteArray& host, std::uint16_t port, bool authenticate);
    void SetLogin(const QByteArray& login) { m_authLogin = login; }
    void SetPassword(const QByteArray& password) { m_authPassword = password; }
    void SetSenderAddress(const QByteArray& address) { m_senderAddress = address; }
    void SetSenderName(const QByteArray& name) { m_senderName = name; }
    void SetSubject(const QByteArray& subject) { m_subject = subject; }
    void SetMailer(const QByteArray& mailer) { m_mailer = mailer; }
    void SetReplyTo(const QByteArray& replyTo) { m_replyTo = replyTo; }
    void SetPriority(int priority) { m_priority = priority; }
    void SetSecurity(int security) { m_security = security; }
    void SetHtmlBody(bool html) { m_htmlBody = html; }
    // Certificate checks of TLS: on by default against the system trust store; caFile adds
    // trusted certificates (PEM).
    void SetVerifyCertificate(bool verify) { m_verifyCertificate = verify; }
    void SetCaFile(const QByteArray& caFile) { m_caFile = caFile; }
    // EHLO name; empty sends "domain".
    void SetLocalHostName(const QByteArray& name) { m_localHostName = name; }

    // Appends a To, Cc or Bcc recipient. An empty address raises 209.
    void AddRecipient(const QByteArray& address, const QByteArray& name = {});
    void AddCcRecipient(const QByteArray& address, const QByteArray& name = {});
    void AddBccRecipient(const QByteArray& address, const QByteArray& name = {});
    void AddBodyLine(const QByteArray& line) { m_bodyLines.push_back(line); }
    void AddAttachment(const QByteArray& path) { m_attachments.push_back(path); }

    // Opens the connection, reads the greeting, sends EHLO, runs STARTTLS or TLS and
    // authenticates when asked and offered. A failure closes the connection (without QUIT
    // after a "530" reply) and raises the step's ECSmtp. Returns true.
    bool Connect(const QByteArray& host, std::uint16_t port, int security, bool authenticate,
                 const std::optional<QByteArray>& login = std::nullopt,
                 const std::optional<QByteArray>& password = std::nullopt);
    // Sends QUIT while connected, then closes the socket. The socket is closed and
    // Connected cleared even when QUIT fails; the failure is raised afterwards.
    void Disconnect();
    // Carries the whole message from MAIL FROM to the end of data; connects first when
    // there is no connection. A failure disconnects and raises ECSmtp.
    void SendMail();
    // Picks a mechanism from the last EHLO reply and logs in. Raises ECSmtp.
    void Authenticate(const std::optional<QByteArray>& login,
                      const std::optional<QByteArray>& password);

    // Puts a command into SendBuffer. A text that does not fit raises 411.
    void SetCommandText(const QByteArray& text);
    // Sends the text in SendBuffer under the step's send time-out. Raises ECSmtp.
    void SendCommand(SmtpStep step);
    // Reads one complete reply into ReceiveBuffer. Returns its code; a code other than the
    // step's expected one raises the step's error.
    int ReadReply(SmtpStep step);
    // True when text offers keyword: a case-blind match after "-", " " or "=" and before
    // " ", "=" or CR LF.
    static bool IsKeywordOffered(const QByteArray& text, const QByteArray& keyword);

    bool IsConnected() const { return m_connected; }
    bool HasSocket() const { return m_socket != INVALID_SOCKET; }
    bool IsTlsActive() const;
    int SecurityMode() const { return m_security; }
    // The last complete reply.
    QByteArray LastReply() const { return QByteArray(m_receiveBuffer.get(), m_receiveLength); }
    const QByteArray& LocalHostNameText() const { return m_localHostName; }

private:
    struct Tls;

    const SmtpCommand& Row(SmtpStep step) const { return m_table.Row(step); }
    void Command(SmtpStep step, const QByteArray& text);
    void SendBytes(SmtpStep step, const char* data, std::size_t length);
    // Sends data of any length through SendBuffer, in pieces that fit it.
    void SendData(SmtpStep step, const QByteArray& data);
    std::size_t ReceiveChunk(std::uint64_t deadline);
    int WaitFor(int wanted, std::uint64_t deadline);
    void Hello();
    void StartTls();
    void Quit();
    void InitTls();
    void TlsHandshake();
    void CloseSocket();
    void ReleaseTls();
    void CheckHeaderText(const QByteArray& text, bool address) const;
    QByteArray BuildHeader() const;
    void SendAttachments();
    void AuthLogin();
    void AuthPlain();
    void AuthCramMd5();
    void AuthDigestMd5();

    SmtpCommandTable m_table;
    QByteArray m_localHostName;
    QByteArray m_senderAddress;
    QByteArray m_senderName;
    QByteArray m_subject;
    QByteArray m_mailer;
    QByteArray m_replyTo;
    QByteArray m_authLogin;
    QByteArray m_authPassword;
    QByteArray m_serverHost;
    QByteArray m_connectHost;
    QByteArray m_caFile;
    std::uint16_t m_serverPort = 0;
    bool m_authRequested = true;
    bool m_verifyCertificate = true;
    int m_priority = kPriorityNormal;
    std::unique_ptr<char[]> m_sendBuffer;
    std::unique_ptr<char[]> m_receiveBuffer;
    int m_receiveLength = 0;
    SOCKET m_socket = INVALID_SOCKET;
    bool m_connected = false;
    bool m_socketStarted = false;
    std::vector<Recipient> m_toList;
    std::vector<Recipient> m_ccList;
    std::vector<Recipient> m_bccList;
    std::vector<QByteArray> m_attachments;
    std::vector<QByteArray> m_bodyLines;
    bool m_htmlBody = false;
    int m_security = SecurityNone;
    std::unique_ptr<Tls> m_tls;
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
