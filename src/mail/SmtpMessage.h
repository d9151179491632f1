#pragma once

#include <ctime>
#include <functional>
#include <vector>

#include <QByteArray>

// One mail's text: envelope, header, body lines and attachments. Builds the bytes the
// session sends between DATA and the end-of-data mark. Failures raise ECSmtp.
class CSmtpMessage
{
public:
    static constexpr int kPriorityHigh = 2;
    static constexpr int kPriorityNormal = 3;
    static constexpr int kPriorityLow = 4;

    struct Recipient
    {
        QByteArray name;
        QByteArray address;
    };

    void SetSenderAddress(const QByteArray& address) { m_senderAddress = address; }
    void SetSenderName(const QByteArray& name) { m_senderName = name; }
    void SetSubject(const QByteArray& subject) { m_subject = subject; }
    void SetMailer(const QByteArray& mailer) { m_mailer = mailer; }
    void SetReplyTo(const QByteArray& replyTo) { m_replyTo = replyTo; }
    void SetPriority(int priority) { m_priority = priority; }
    void SetHtmlBody(bool html) { m_htmlBody = html; }
    // Appends a To, Cc or Bcc recipient. An empty address raises 209.
    void AddRecipient(const QByteArray& address, const QByteArray& name = {});
    void AddCcRecipient(const QByteArray& address, const QByteArray& name = {});
    void AddBccRecipient(const QByteArray& address, const QByteArray& name = {});
    void AddBodyLine(const QByteArray& line) { m_bodyLines.push_back(line); }
    void AddAttachment(const QByteArray& path) { m_attachments.push_back(path); }

    const QByteArray& SenderAddress() const { return m_senderAddress; }
    bool HasRecipients() const { return !m_toList.empty(); }
    // Every envelope recipient: To, then Cc, then Bcc, each in list order.
    std::vector<QByteArray> EnvelopeRecipients() const;

    // Refuses a header text holding CR, LF or NUL, and an address holding '<' or '>'
    // (raises 210): such a text would start a new command or header line.
    void Check() const;
    // The header for the local time `local`, ending with its empty line. Raises 201 without
    // a sender, 203 without a To recipient.
    QByteArray Header(const std::tm& local) const;
    // The header for the current local time. Raises 409 when the clock cannot be read.
    QByteArray Header() const;
    // The body, one block per line (" \r\n" when there is none), ready for the wire.
    std::vector<QByteArray> BodyBlocks() const;
    // One body line as sent: every line end (CR LF, bare CR, bare LF) becomes CR LF, a dot
    // that begins a line is doubled, and CR LF closes it.
    static QByteArray WireLine(const QByteArray& line);
    // Streams the attachment parts and the closing boundary through send, in blocks of at
    // most 92 encoded lines. Raises 404 (not readable), 405 (over 5120 KiB in all) or 210.
    // Does nothing without attachments.
    void WriteAttachments(const std::function<void(const QByteArray&)>& send) const;

private:
    QByteArray m_senderAddress;
    QByteArray m_senderName;
    QByteArray m_subject;
    QByteArray m_mailer;
    QByteArray m_replyTo;
    int m_priority = kPriorityNormal;
    bool m_htmlBody = false;
    std::vector<Recipient> m_toList;
    std::vector<Recipient> m_ccList;
    std::vector<Recipient> m_bccList;
    std::vector<QByteArray> m_bodyLines;
    std::vector<QByteArray> m_attachments;
};
