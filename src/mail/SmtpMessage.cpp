#include "mail/SmtpMessage.h"

#include <cstdio>
#include <ctime>
#include <memory>

#include "mail/SmtpSession.h"
#include "platform/Base64.h"

namespace {

constexpr char kMessageBoundary[] = "__MESSAGE__ID__54yg6f6h6y456345";
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr int kPieceBytes = 54;
constexpr int kSendBlockBytes = 5120;
constexpr long long kAttachmentLimit = 5242880; // 5120 KiB over the whole message
constexpr int kPathBufferBytes = 255;

QByteArray ListText(const std::vector<CSmtpMessage::Recipient>& list)
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

void CheckHeaderText(const QByteArray& text, bool address)
{
    for (const char c : text) {
        if (c == '\r' || c == '\n' || c == '\0' || (address && (c == '<' || c == '>'))) {
            throw ECSmtp(SmtpErrForbiddenCharacter);
        }
    }
}

std::vector<CSmtpMessage::Recipient>& Append(std::vector<CSmtpMessage::Recipient>& list,
                                             const QByteArray& address, const QByteArray& name)
{
    if (address.isEmpty()) {
        throw ECSmtp(SmtpErrRecipientAddress);
    }
    list.push_back(CSmtpMessage::Recipient{name, address});
    return list;
}

struct FileCloser
{
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

void CSmtpMessage::AddRecipient(const QByteArray& address, const QByteArray& name)
{
    Append(m_toList, address, name);
}

void CSmtpMessage::AddCcRecipient(const QByteArray& address, const QByteArray& name)
{
    Append(m_ccList, address, name);
}

void CSmtpMessage::AddBccRecipient(const QByteArray& address, const QByteArray& name)
{
    Append(m_bccList, address, name);
}

std::vector<QByteArray> CSmtpMessage::EnvelopeRecipients() const
{
    std::vector<QByteArray> all;
    for (const auto* list : {&m_toList, &m_ccList, &m_bccList}) {
        for (const auto& r : *list) {
            all.push_back(r.address);
        }
    }
    return all;
}

void CSmtpMessage::Check() const
{
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
}

QByteArray CSmtpMessage::Header() const
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now <= 0 || !localtime_r(&now, &local)) {
        throw ECSmtp(SmtpErrClock);
    }
    return Header(local);
}

QByteArray CSmtpMessage::Header(const std::tm& local) const
{
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

std::vector<QByteArray> CSmtpMessage::BodyBlocks() const
{
    if (m_bodyLines.empty()) {
        return {" \r\n"};
    }
    std::vector<QByteArray> blocks;
    for (const QByteArray& line : m_bodyLines) {
        blocks.push_back(WireLine(line));
    }
    return blocks;
}

QByteArray CSmtpMessage::WireLine(const QByteArray& line)
{
    // A bare CR or LF is a line end to some servers and not to others: made CR LF, no
    // server can find an end of data we did not mean, and every dot that begins a line on
    // the wire is doubled.
    QByteArray out;
    out.reserve(line.size() + 4);
    bool lineStart = true;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < line.size() && line[i + 1] == '\n') {
                ++i;
            }
            out += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') {
            out += '.';
        }
        out += c;
        lineStart = false;
    }
    out += "\r\n";
    return out;
}

void CSmtpMessage::WriteAttachments(const std::function<void(const QByteArray&)>& send) const
{
    if (m_attachments.empty()) {
        return;
    }
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
        send(QByteArray("--") + kMessageBoundary + "\r\n" +
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
                send(block);
                block.clear();
                counter = 0;
            }
        }
        if (counter != 0) {
            send(block);
        }
    }
    send(QByteArray("\r\n--") + kMessageBoundary + "--\r\n");
}
