#include "mail/SmtpSession.h"

#include <cstdio>
#include <ctime>
#include <memory>

#include "platform/Base64.h"

namespace {

constexpr char kMessageBoundary[] = "__MESSAGE__ID__54yg6f6h6y456345";
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr int kPieceBytes = 54;
constexpr int kSendBlockBytes = 5120;
constexpr long long kAttachmentLimit = 5242880; // 5120 KiB over the whole message
constexpr int kPathBufferBytes = 255;

QByteArray ListText(const std::vector<CSmtpSession::Recipient>& list)
{
    QByteArray text;
    for (const auto& r : list) {
        if (!text.isEmpty()) {
            text += ',';
        }
        text += r.name + '<' + r.address + '>';
    }
    return text;
}

// RFC 5321 transparency: a dot that begins a line on the wire is doubled, so no body text
// can end the data early.
QByteArray DotStuffed(const QByteArray& line)
{
    QByteArray out;
    out.reserve(line.size() + 4);
    bool lineStart = true;
    for (const char c : line) {
        if (lineStart && c == '.') {
            out += '.';
        }
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

struct FileCloser
{
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

void CSmtpSession::AddRecipient(const QByteArray& address, const QByteArray& name)
{
    if (address.isEmpty()) {
        throw ECSmtp(SmtpErrRecipientAddress);
    }
    m_toList.push_back(Recipient{name, address});
}

void CSmtpSession::AddCcRecipient(const QByteArray& address, const QByteArray& name)
{
    if (address.isEmpty()) {
        throw ECSmtp(SmtpErrRecipientAddress);
    }
    m_ccList.push_back(Recipient{name, address});
}

void CSmtpSession::AddBccRecipient(const QByteArray& address, const QByteArray& name)
{
    if (address.isEmpty()) {
        throw ECSmtp(SmtpErrRecipientAddress);
    }
    m_bccList.push_back(Recipient{name, address});
}

void CSmtpSession::CheckHeaderText(const QByteArray& text, bool address) const
{
    for (const char c : text) {
        if (c == '\r' || c == '\n' || c == '\0' || (address && (c == '<' || c == '>'))) {
            throw ECSmtp(SmtpErrForbiddenCharacter);
        }
    }
}

QByteArray CSmtpSession::BuildHeader() const
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now <= 0 || !localtime_r(&now, &local)) {
        throw ECSmtp(SmtpErrClock);
    }
    char date[64];
    std::snprintf(date, sizeof date, "Date: %d %s %d %d:%d:%d\r\n", local.tm_mday,
                  kMonths[local.tm_mon], local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec);
    QByteArray h = date;
    if (m_senderAddress.isEmpty()) {
        throw ECSmtp(SmtpErrNoSender);
    }
    h += "From: " + m_senderName + " <" + m_senderAddress + ">\r\n";
    if (!m_mailer.isEmpty()) {
        h += "X-Mailer: " + m_mailer + "\r\n";
    }
    if (!m_replyTo.isEmpty()) {
        h += "Reply-To: " + m_replyTo + "\r\n";
    }
    h += m_priority == kPriorityHigh  ? "X-Priority: 2 (High)\r\n"
         : m_priority == kPriorityLow ? "X-Priority: 4 (Low)\r\n"
                                      : "X-Priority: 3 (Normal)\r\n";
    if (m_toList.empty()) {
        throw ECSmtp(SmtpErrNoRecipient);
    }
    h += "To: " + ListText(m_toList) + "\r\n";
    if (!m_ccList.empty()) {
        h += "Cc: " + ListText(m_ccList) + "\r\n";
    }
    if (!m_bccList.empty()) {
        h += "Bcc: " + ListText(m_bccList) + "\r\n";
    }
    h += "Subject: " + (m_subject.isEmpty() ? QByteArray(" ") : m_subject) + "\r\n";
    h += "MIME-Version: 1.0\r\n";
    if (m_attachments.empty()) {
        h += m_htmlBody ? "Content-Type: text/html; charset=\"US-ASCII\"\r\n"
                        : "Content-type: text/plain; charset=\"US-ASCII\"\r\n";
        h += "Content-Transfer-Encoding: 7bit\r\n";
    } else {
        h += QByteArray("Content-Type: multipart/mixed; boundary=\"") + kMessageBoundary + "\"\r\n";
        h += "\r\n";
        h += QByteArray("--") + kMessageBoundary + "\r\n";
        h += m_htmlBody ? "Content-type: text/html; charset=US-ASCII\r\n"
                        : "Content-type: text/plain; charset=US-ASCII\r\n";
        h += "Content-Transfer-Encoding: 7bit\r\n";
    }
    h += "\r\n";
    return h;
}

void CSmtpSession::SendMail()
{
    // Refused before any connection: a CR or LF would start a new command or header line,
    // an angle bracket would end the address early.
    CheckHeaderText(m_senderAddress, true);
    CheckHeaderText(m_senderName, false);
    CheckHeaderText(m_subject, false);
    CheckHeaderText(m_mailer, false);
    CheckHeaderText(m_replyTo, false);
    for (const auto* list : {&m_toList, &m_ccList, &m_bccList}) {
        for (const auto& r : *list) {
            CheckHeaderText(r.address, true);
            CheckHeaderText(r.name, false);
        }
    }
    if (m_socket == INVALID_SOCKET) {
        Connect(m_serverHost, m_serverPort, m_security, m_authRequested);
    }
    try {
        if (m_senderAddress.isEmpty()) {
            throw ECSmtp(SmtpErrNoSender);
        }
        Command(SmtpStep::MailFrom, "MAIL FROM:<" + m_senderAddress + ">\r\n");
        ReadReply(SmtpStep::MailFrom);
        if (m_toList.empty()) {
            throw ECSmtp(SmtpErrNoRecipient);
        }
        for (const auto* list : {&m_toList, &m_ccList, &m_bccList}) {
            for (const auto& r : *list) {
                Command(SmtpStep::RcptTo, "RCPT TO:<" + r.address + ">\r\n");
                ReadReply(SmtpStep::RcptTo);
            }
        }
        Command(SmtpStep::Data, "DATA\r\n");
        ReadReply(SmtpStep::Data);
        Command(SmtpStep::MessageData, BuildHeader());
        if (m_bodyLines.empty()) {
            Command(SmtpStep::MessageData, " \r\n");
        }
        for (const QByteArray& line : m_bodyLines) {
            SendData(SmtpStep::MessageData, DotStuffed(line) + "\r\n");
        }
        if (!m_attachments.empty()) {
            SendAttachments();
            Command(SmtpStep::MessageData, QByteArray("\r\n--") + kMessageBoundary + "--\r\n");
        }
        Command(SmtpStep::EndOfData, "\r\n.\r\n");
        ReadReply(SmtpStep::EndOfData);
    } catch (const ECSmtp&) {
        Disconnect();
        throw;
    }
}

void CSmtpSession::SendAttachments()
{
    long long total = 0;
    for (const QByteArray& path : m_attachments) {
        if (path.size() >= kPathBufferBytes || path.contains('\0')) {
            throw ECSmtp(SmtpErrAttachmentOpen);
        }
        const qsizetype slash = std::max(path.lastIndexOf('\\'), path.lastIndexOf('/'));
        const QByteArray name = path.mid(slash + 1);
        CheckHeaderText(name, false);
        if (name.contains('"')) {
            throw ECSmtp(SmtpErrForbiddenCharacter);
        }
        Command(SmtpStep::MessageData,
                QByteArray("--") + kMessageBoundary + "\r\n" +
                    "Content-Type: application/x-msdownload; name=\"" + name + "\"\r\n" +
                    "Content-Transfer-Encoding: base64\r\n" +
                    "Content-Disposition: attachment; filename=\"" + name + "\"\r\n" + "\r\n");
        std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.constData(), "rb"));
        if (!file) {
            throw ECSmtp(SmtpErrAttachmentOpen);
        }
        char piece[kPieceBytes];
        long long size = 0;
        for (;;) {
            const std::size_t n = std::fread(piece, 1, sizeof piece, file.get());
            size += static_cast<long long>(n);
            if (n < sizeof piece) {
                break;
            }
        }
        total += size;
        if (total / 1024 * 1024 > kAttachmentLimit) {
            throw ECSmtp(SmtpErrAttachmentSize);
        }
        std::rewind(file.get());
        QByteArray block;
        int counter = 0;
        const long long pieces = size / kPieceBytes + 1;
        for (long long i = 0; i < pieces; ++i) {
            const std::size_t n = std::fread(piece, 1, sizeof piece, file.get());
            block += Base64Encode(QByteArray(piece, static_cast<qsizetype>(n))) + "\r\n";
            counter += static_cast<int>(n) + 2;
            if (counter >= kSendBlockBytes) {
                Command(SmtpStep::MessageData, block);
                block.clear();
                counter = 0;
            }
        }
        if (counter != 0) {
            Command(SmtpStep::MessageData, block);
        }
    }
}
