#include "mail/SmtpSession.h"

#include <cstring>
#include <new>

#include "platform/Logging.h"
#include "platform/SocketConnect.h"
#include "platform/Tick.h"

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Steps whose command text carries credentials: not written to the debug output.
bool IsSecretStep(SmtpStep step)
{
    return step == SmtpStep::AuthPlain || step == SmtpStep::UserName ||
           step == SmtpStep::Password || step == SmtpStep::DigestMd5;
}

const char* StateName(int state)
{
    static const char* const names[] = {"Closed", "Exchange", "Ready", "Message", "Broken"};
    return names[state];
}

// The error of a transport step that did not succeed; timeoutCode is that of a time-out.
int ErrorOf(NetResult result, int timeoutCode)
{
    switch (result) {
    case NetResult::Ok:
        return 0;
    case NetResult::Stopped:
        return SmtpErrStopped;
    case NetResult::TimedOut:
        return timeoutCode;
    case NetResult::WaitFailed:
        return SmtpErrWait;
    case NetResult::SocketFailed:
        return SmtpErrSocketCreate;
    case NetResult::NonBlockingFailed:
        return SmtpErrNonBlocking;
    case NetResult::ConnectFailed:
        return SmtpErrConnect;
    case NetResult::SendFailed:
        return SmtpErrSend;
    case NetResult::ReceiveFailed:
        return SmtpErrReceive;
    case NetResult::Closed:
        return SmtpErrClosed;
    case NetResult::TlsFailed:
        return SmtpErrTls;
    }
    return SmtpErrWait;
}

} // namespace

const char* SmtpErrorText(int code)
{
    switch (static_cast<SmtpErrorCode>(code)) {
    case SmtpErrSocketStart:
        return "the socket library cannot be started";
    case SmtpErrSocketVersion:
        return "the socket library has the wrong version";
    case SmtpErrSend:
        return "a send failed or sent nothing";
    case SmtpErrReceive:
        return "a receive failed";
    case SmtpErrConnect:
        return "the connection attempt failed at once";
    case SmtpErrResolve:
        return "the server name cannot be resolved";
    case SmtpErrSocketCreate:
        return "no socket can be created";
    case SmtpErrHostName:
        return "the local host name cannot be read";
    case SmtpErrNonBlocking:
        return "the socket cannot be made non-blocking";
    case SmtpErrWait:
        return "a socket wait failed or the connection was refused";
    case SmtpErrNoSender:
        return "no sender address";
    case SmtpErrNoRecipient:
        return "no To recipient";
    case SmtpErrNoLogin:
        return "authentication is due but the login is empty";
    case SmtpErrNoPassword:
        return "authentication is due but the password is empty";
    case SmtpErrAuthMemory:
        return "no memory for the authentication";
    case SmtpErrDigestChallenge:
        return "the DIGEST-MD5 challenge is malformed";
    case SmtpErrPeerAddress:
        return "the server address cannot be read";
    case SmtpErrRecipientAddress:
        return "a recipient without an address";
    case SmtpErrForbiddenCharacter:
        return "an address or header text holds CR, LF, '<' or '>'";
    case SmtpErrMailFrom:
        return "MAIL FROM refused";
    case SmtpErrEhlo:
        return "EHLO refused";
    case SmtpErrAuthPlain:
        return "AUTH PLAIN refused";
    case SmtpErrAuthLogin:
        return "AUTH LOGIN refused";
    case SmtpErrAuthCramMd5:
        return "AUTH CRAM-MD5 refused";
    case SmtpErrAuthDigestMd5:
        return "a DIGEST-MD5 step refused";
    case SmtpErrData:
        return "DATA refused";
    case SmtpErrQuit:
        return "QUIT refused";
    case SmtpErrRcptTo:
        return "RCPT TO refused";
    case SmtpErrEndOfData:
        return "the message was refused at the end of data";
    case SmtpErrClosed:
        return "the server closed the connection";
    case SmtpErrTimeout:
        return "no 220 greeting, or a send or reply timed out";
    case SmtpErrConnectTimeout:
        return "the connection was not established in time";
    case SmtpErrAttachmentOpen:
        return "an attachment cannot be opened";
    case SmtpErrAttachmentSize:
        return "the attachments are too large";
    case SmtpErrAuthFinal:
        return "the login was refused";
    case SmtpErrAuthUserName:
        return "the user name was refused";
    case SmtpErrBuffer:
        return "a reply does not fit the receive buffer";
    case SmtpErrClock:
        return "the clock cannot be read";
    case SmtpErrCommandTooLong:
        return "a command does not fit the send buffer";
    case SmtpErrStartTls:
        return "STARTTLS refused";
    case SmtpErrTls:
        return "TLS failed (context, certificate, handshake, read or write)";
    case SmtpErrStartTlsMissing:
        return "STARTTLS is needed but not offered";
    case SmtpErrNoMechanism:
        return "none of the known login mechanisms is offered";
    case SmtpErrStopped:
        return "stopped";
    }
    return "unknown error";
}

SmtpCommandTable SmtpCommandTable::Default()
{
    SmtpCommandTable t;
    const auto set = [&t](SmtpStep step, int sendS, int replyS, int expected, int error) {
        t.rows[static_cast<std::size_t>(step)] =
            SmtpCommand{sendS * 1000, replyS * 1000, expected, error};
    };
    set(SmtpStep::Greeting, 0, 300, 220, SmtpErrTimeout);
    set(SmtpStep::Ehlo, 300, 300, 250, SmtpErrEhlo);
    set(SmtpStep::AuthPlain, 300, 300, 235, SmtpErrAuthPlain);
    set(SmtpStep::AuthLogin, 300, 300, 334, SmtpErrAuthLogin);
    set(SmtpStep::AuthCramMd5, 300, 300, 334, SmtpErrAuthCramMd5);
    set(SmtpStep::DigestMd5, 300, 300, 334, SmtpErrAuthDigestMd5);
    set(SmtpStep::UserName, 300, 300, 334, SmtpErrAuthUserName);
    set(SmtpStep::Password, 300, 300, 235, SmtpErrAuthFinal);
    set(SmtpStep::MailFrom, 300, 300, 250, SmtpErrMailFrom);
    set(SmtpStep::RcptTo, 300, 300, 250, SmtpErrRcptTo);
    set(SmtpStep::Data, 300, 120, 354, SmtpErrData);
    set(SmtpStep::MessageData, 180, 0, 0, 0);
    set(SmtpStep::EndOfData, 180, 600, 250, SmtpErrEndOfData);
    set(SmtpStep::Quit, 300, 300, 221, SmtpErrQuit);
    set(SmtpStep::StartTls, 300, 300, 220, SmtpErrStartTls);
    return t;
}

SmtpCommandTable SmtpCommandTable::WithTimeouts(int ms) const
{
    SmtpCommandTable t = *this;
    for (auto& row : t.rows) {
        row.sendTimeoutMs = ms;
        row.replyTimeoutMs = ms;
    }
    t.connectTimeoutMs = ms;
    t.handshakeTimeoutMs = ms;
    return t;
}

CSmtpSession::CSmtpSession(const SmtpCommandTable& table, const Event* stop)
    : m_table(table), m_client(stop)
{
    if (WSAStartup() != 0) {
        throw ECSmtp(SmtpErrSocketStart);
    }
    m_socketStarted = true;
    if (!LocalHostName(&m_localHostName)) {
        WSACleanup();
        m_socketStarted = false;
        throw ECSmtp(SmtpErrHostName);
    }
    m_sendBuffer.reset(new (std::nothrow) char[kBufferSize]);
    m_receiveBuffer.reset(new (std::nothrow) char[kBufferSize]);
    if (!m_sendBuffer || !m_receiveBuffer) {
        WSACleanup();
        m_socketStarted = false;
        throw ECSmtp(SmtpErrBuffer);
    }
    m_sendBuffer[0] = '\0';
    m_receiveBuffer[0] = '\0';
}

CSmtpSession::~CSmtpSession()
{
    try {
        Disconnect();
    } catch (const ECSmtp&) {
        // A failing QUIT at destruction has nowhere to go; the socket is closed regardless.
    }
    if (m_socketStarted) {
        WSACleanup();
    }
}

void CSmtpSession::SetServer(const QByteArray& host, std::uint16_t port, bool authenticate)
{
    m_serverHost = host;
    m_serverPort = port;
    m_authRequested = authenticate;
}

void CSmtpSession::Enter(State state)
{
    if (state != m_state) {
        qCDebug(lcSmtp) << "state from" << StateName(static_cast<int>(m_state)) << "to"
                        << StateName(static_cast<int>(state));
        m_state = state;
    }
}

void CSmtpSession::Fail(NetResult result, int timeoutCode)
{
    Enter(State::Broken);
    throw ECSmtp(ErrorOf(result, timeoutCode));
}

bool CSmtpSession::Connect(const QByteArray& host, std::uint16_t port, int security,
                           bool authenticate, const std::optional<QByteArray>& login,
                           const std::optional<QByteArray>& password)
{
    try {
        m_receiveLength = 0;
        m_receiveBuffer[0] = '\0';
        const std::uint16_t remotePort = port != 0 ? port : ServicePort("mail", 25);
        std::uint32_t address = 0;
        if (!ResolveIpv4(host, &address)) {
            throw ECSmtp(SmtpErrResolve);
        }
        qCDebug(lcSmtp) << "connecting to" << host << remotePort;
        const NetResult r =
            m_client.Connect(SockAddrIn{address, remotePort}, m_table.connectTimeoutMs);
        if (r != NetResult::Ok) {
            Fail(r, SmtpErrConnectTimeout);
        }
        Enter(State::Exchange);
        m_connectHost = host;
        if (security != SecurityKeep) {
            m_security = security;
        }
        if (m_security == SecurityImplicitTls) {
            TlsHandshake();
        }
        ReadReply(SmtpStep::Greeting);
        Hello();
        if (m_security == SecurityStartTls) {
            StartTls();
            Hello();
        }
        if (authenticate && IsKeywordOffered(LastReply(), "AUTH")) {
            Authenticate(login, password);
        }
    } catch (const ECSmtp& e) {
        // A server that answers 530 refuses to talk further: no QUIT.
        CloseAfterFailure(e, !LastReply().startsWith("530"));
        throw;
    }
    return true;
}

void CSmtpSession::Disconnect()
{
    if (m_connected && m_state == State::Ready) {
        try {
            Quit();
        } catch (const ECSmtp&) {
            m_connected = false;
            CloseConnection();
            throw;
        }
    }
    m_connected = false;
    CloseConnection();
}

void CSmtpSession::CloseAfterFailure(const ECSmtp& error, bool quitAllowed)
{
    qCDebug(lcSmtp).nospace() << "failed with " << error.Code() << " ("
                              << SmtpErrorText(error.Code()) << ")";
    if (quitAllowed && m_connected && m_state == State::Ready) {
        // Between two commands the server takes a QUIT; its reply is not awaited, so a
        // failing transaction never waits out QUIT's time-out, and nothing it does can
        // replace the error that is travelling.
        static const char quit[] = "QUIT\r\n";
        if (m_client.Send(quit, sizeof quit - 1, Row(SmtpStep::Quit).sendTimeoutMs) ==
            NetResult::Ok) {
            qCDebug(lcSmtp).noquote() << "C: QUIT";
        }
    }
    m_connected = false;
    CloseConnection();
}

void CSmtpSession::CloseConnection()
{
    if (m_client.IsOpen()) {
        m_client.Close();
        qCDebug(lcSmtp) << "socket closed";
    }
    Enter(State::Closed);
}

void CSmtpSession::TlsHandshake()
{
    Enter(State::Exchange);
    const NetResult r = m_client.StartTls(TlsSettings{m_verifyCertificate, m_caFile, m_connectHost},
                                          m_table.handshakeTimeoutMs);
    if (r != NetResult::Ok) {
        Fail(r, SmtpErrTimeout);
    }
    qCDebug(lcSmtp) << "TLS active:" << m_client.TlsVersion();
}

void CSmtpSession::SetCommandText(const QByteArray& text)
{
    if (text.size() >= kBufferSize) {
        throw ECSmtp(SmtpErrCommandTooLong);
    }
    std::memcpy(m_sendBuffer.get(), text.constData(), static_cast<std::size_t>(text.size()));
    m_sendBuffer[text.size()] = '\0';
}

void CSmtpSession::Command(SmtpStep step, const QByteArray& text)
{
    SetCommandText(text);
    SendCommand(step);
}

void CSmtpSession::SendCommand(SmtpStep step)
{
    const std::size_t length = std::strlen(m_sendBuffer.get());
    SendBytes(step, m_sendBuffer.get(), length);
    if (IsSecretStep(step)) {
        qCDebug(lcSmtp).noquote() << "C: <credentials>";
    } else {
        qCDebug(lcSmtp).noquote() << "C:"
                                  << QByteArray(m_sendBuffer.get(), static_cast<qsizetype>(length));
    }
}

void CSmtpSession::SendData(SmtpStep step, const QByteArray& data)
{
    for (qsizetype at = 0; at < data.size(); at += kBufferSize - 1) {
        const qsizetype n = std::min<qsizetype>(kBufferSize - 1, data.size() - at);
        std::memcpy(m_sendBuffer.get(), data.constData() + at, static_cast<std::size_t>(n));
        m_sendBuffer[n] = '\0';
        SendBytes(step, m_sendBuffer.get(), static_cast<std::size_t>(n));
    }
}

void CSmtpSession::SendBytes(SmtpStep step, const char* data, std::size_t length)
{
    if (!m_client.IsOpen()) {
        throw ECSmtp(SmtpErrSend);
    }
    if (m_state == State::Ready) {
        Enter(State::Exchange);
    }
    const NetResult r = m_client.Send(data, length, Row(step).sendTimeoutMs);
    if (r != NetResult::Ok) {
        Fail(r, SmtpErrTimeout);
    }
}

std::size_t CSmtpSession::ReceiveChunk(std::uint64_t deadline)
{
    const std::size_t space = static_cast<std::size_t>(kBufferSize - 1 - m_receiveLength);
    if (space == 0) {
        Enter(State::Broken); // the rest of the reply is still on its way
        throw ECSmtp(SmtpErrBuffer);
    }
    const std::uint64_t now = GetTickCount64();
    const int left = now >= deadline ? 0 : static_cast<int>(deadline - now);
    std::size_t received = 0;
    const NetResult r =
        m_client.Receive(m_receiveBuffer.get() + m_receiveLength, space, left, &received);
    if (r != NetResult::Ok) {
        Fail(r, SmtpErrTimeout);
    }
    return received;
}

int CSmtpSession::ReadReply(SmtpStep step)

{
    const SmtpCommand& row = Row(step);
    const std::uint64_t deadline = DeadlineIn(row.replyTimeoutMs);
    m_receiveLength = 0;
    m_receiveBuffer[0] = '\0';
    int scanned = 0; // start of the first line not yet looked at
    int code = -1;
    while (code < 0) {
        const std::size_t n = ReceiveChunk(deadline);
        m_receiveLength += static_cast<int>(n);
        m_receiveBuffer[m_receiveLength] = '\0';
        const char* text = m_receiveBuffer.get();
        for (int i = scanned; i + 1 < m_receiveLength && code < 0; ++i) {
            if (text[i] != '\r' || text[i + 1] != '\n') {
                continue;
            }
            const int lineLength = i + 2 - scanned;
            const char* line = text + scanned;
            if (lineLength >= 5 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
                (lineLength == 5 || line[3] == ' ')) {
                code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
            }
            scanned = i + 2;
            ++i;
        }
    }
    qCDebug(lcSmtp).noquote() << "S:" << LastReply();
    Enter(State::Ready);
    if (code != row.expectedCode) {
        throw ECSmtp(row.errorCode);
    }
    return code;
}

bool CSmtpSession::IsKeywordOffered(const QByteArray& text, const QByteArray& keyword)
{
    if (text.isEmpty() || keyword.isEmpty() || text.size() < keyword.size()) {
        return false;
    }
    const qsizetype k = keyword.size();
    for (qsizetype at = 1; at + k <= text.size(); ++at) {
        if (qstrnicmp(text.constData() + at, keyword.constData(), static_cast<uint>(k)) != 0) {
            continue;
        }
        const char before = text[at - 1];
        if (before != '-' && before != ' ' && before != '=') {
            continue;
        }
        const qsizetype after = at + k;
        if (after < text.size() && (text[after] == ' ' || text[after] == '=')) {
            return true;
        }
        if (after + 1 < text.size() && text[after] == '\r' && text[after + 1] == '\n') {
            return true;
        }
    }
    return false;
}

void CSmtpSession::Hello()
{
    Command(SmtpStep::Ehlo,
            "EHLO " + (m_localHostName.isEmpty() ? QByteArray("domain") : m_localHostName) +
                "\r\n");
    ReadReply(SmtpStep::Ehlo);
    m_connected = true;
}

void CSmtpSession::StartTls()
{
    if (!IsKeywordOffered(LastReply(), "STARTTLS")) {
        throw ECSmtp(SmtpErrStartTlsMissing);
    }
    Command(SmtpStep::StartTls, "STARTTLS\r\n");
    ReadReply(SmtpStep::StartTls);
    TlsHandshake();
}

void CSmtpSession::Quit()
{
    Command(SmtpStep::Quit, "QUIT\r\n");
    ReadReply(SmtpStep::Quit);
    m_connected = false;
}

void CSmtpSession::SendMail(const CSmtpMessage& message)
{
    message.Check(); // refused before any connection
    if (!m_client.IsOpen()) {
        Connect(m_serverHost, m_serverPort, m_security, m_authRequested);
    }
    try {
        if (message.SenderAddress().isEmpty()) {
            throw ECSmtp(SmtpErrNoSender);
        }
        Command(SmtpStep::MailFrom, "MAIL FROM:<" + message.SenderAddress() + ">\r\n");
        ReadReply(SmtpStep::MailFrom);
        if (!message.HasRecipients()) {
            throw ECSmtp(SmtpErrNoRecipient);
        }
        for (const QByteArray& address : message.EnvelopeRecipients()) {
            Command(SmtpStep::RcptTo, "RCPT TO:<" + address + ">\r\n");
            ReadReply(SmtpStep::RcptTo);
        }
        Command(SmtpStep::Data, "DATA\r\n");
        ReadReply(SmtpStep::Data);
        Enter(State::Message);
        Command(SmtpStep::MessageData, message.Header());
        for (const QByteArray& block : message.BodyBlocks()) {
            SendData(SmtpStep::MessageData, block);
        }
        message.WriteAttachments(
            [this](const QByteArray& block) { SendData(SmtpStep::MessageData, block); });
        Command(SmtpStep::EndOfData, "\r\n.\r\n");
        ReadReply(SmtpStep::EndOfData);
    } catch (const ECSmtp& e) {
        CloseAfterFailure(e, true);
        throw;
    }
}
