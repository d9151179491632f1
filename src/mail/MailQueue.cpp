#include "mail/MailQueue.h"

#include <limits>

#include "eventlog/EventSink.h"
#include "platform/CodePage.h"
#include "platform/Event.h"
#include "platform/Logging.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

namespace {

QByteArray Ansi(const QString& text)
{
    const QByteArray bytes = WideToCodePage(text, CodePage::Ansi, '?');
    return bytes.isNull() ? text.toLatin1() : bytes;
}

void PostOutcome(bool sent, const MailItem& item)
{
    EventSink(
        sent ? EventType::Information : EventType::Error,
        FormatText(LoadString(sent ? kIdsMailSent : kIdsMailFailed), {item.text, item.address}));
}

void TellDone(bool sent, const MailItem& item)
{
    if (item.done) {
        item.done(sent);
    }
}

} // namespace

bool CMailQueue::SendAlarmMail(const MailItem& item, const MailAccount& account,
                               const SmtpCommandTable& commands, const Event& stop)
{
    bool sent = false;
    try {
        CSmtpSession session(commands, &stop);
        int port = GetProfileInt(kProfileMailPort);
        if (port < 0 || port > 65535) {
            port = kProfileMailPort.defaultValue;
        }
        int security = GetProfileInt(kProfileMailSecurity);
        if (security < CSmtpSession::SecurityNone || security > CSmtpSession::SecurityImplicitTls) {
            security = CSmtpSession::SecurityNone;
        }
        session.SetServer(Ansi(GetProfileString(kProfileMailServer)),
                          static_cast<std::uint16_t>(port), true);
        session.SetSecurity(security);
        session.SetVerifyCertificate(GetProfileInt(kProfileMailVerifyCertificate) != 0);
        session.SetCaFile(WideToFileCodePage(GetProfileString(kProfileMailCaFile)));
        session.SetLogin(Ansi(account.sender));
        session.SetPassword(Ansi(account.password));
        CSmtpMessage message;
        message.SetSenderAddress(Ansi(item.address));
        message.SetSubject("Alarm Event");
        message.AddRecipient(Ansi(item.address));
        message.SetPriority(CSmtpMessage::kPriorityHigh);
        message.SetMailer("Alarm");
        message.AddBodyLine(Ansi(item.text));
        message.AddBodyLine("\n");
        session.SendMail(message);
        session.Disconnect(); // a failing QUIT fails the mail
        sent = true;
    } catch (const ECSmtp& e) {
        qCDebug(lcSmtp).nospace().noquote() << "alarm mail to " << item.address << " failed with "
                                            << e.Code() << " (" << SmtpErrorText(e.Code()) << ")";
    }
    PostOutcome(sent, item);
    return sent;
}

void CMailQueue::Finish(const MailItem& item) const
{
    if (item.outboxId != 0 && m_finished) {
        m_finished(item.outboxId);
    }
}

void CMailQueue::Refuse(const MailItem& item)
{
    PostOutcome(false, item);
    TellDone(false, item);
}

// The work queue itself takes every mail: QueueMail bounds the new ones, the outbox the
// resent ones, so it drops a mail only at the stop.
CMailQueue::CMailQueue(const MailQueueTiming& timing)
    : m_timing(timing),
      m_queue(std::numeric_limits<std::size_t>::max(), [this](MailItem& item, WorkDrop) {
          Taken(item);
          qCDebug(lcSmtp) << "alarm mail to" << item.address << "not sent: the worker was stopped";
          Refuse(item); // it stays in the outbox for the next run
      })
{
}

void CMailQueue::Taken(const MailItem& item)
{
    if (!item.resent) {
        --m_newWaiting;
    }
}

CMailQueue::~CMailQueue()
{
    StopWorker();
}

void CMailQueue::SetAccount(const QString& sender, const QString& password)
{
    std::lock_guard<std::mutex> guard(m_accountLock);
    m_account = MailAccount{sender, password};
}

MailAccount CMailQueue::Account() const
{
    std::lock_guard<std::mutex> guard(m_accountLock);
    return m_account;
}

bool CMailQueue::StartWorker()
{
    return m_queue.Start([this](MailItem& item, Event& stop) {
        Taken(item);
        // A session cut short by the stop is no final failure: the next run sends it again.
        const bool sent = SendAlarmMail(item, Account(), m_timing.commands, stop);
        if (sent || !stop.IsSet()) {
            Finish(item);
        }
        TellDone(sent, item);
    });
}

void CMailQueue::QueueMail(QString address, QString text, std::uint64_t outboxId, bool resent,
                           MailDone done)
{
    MailItem item{std::move(address), std::move(text), outboxId, resent, std::move(done)};
    const MailAccount account = Account();
    if (account.sender.isEmpty() || account.password.isEmpty()) {
        // Nothing can log in: the alarm is not sent, and says so.
        qCDebug(lcSmtp) << "alarm mail to" << item.address << "not sent: the sender mailbox"
                        << (account.sender.isEmpty() ? "is empty" : "has no password");
        Refuse(item);
        Finish(item);
        return;
    }
    if (!item.resent) {
        std::size_t waiting = m_newWaiting.load();
        do {
            if (waiting >= kMaxItems) {
                qCDebug(lcSmtp) << "alarm mail to" << item.address << "not sent: the queue is full";
                Refuse(item);
                Finish(item);
                return;
            }
        } while (!m_newWaiting.compare_exchange_weak(waiting, waiting + 1));
    }
    m_queue.Push(std::move(item));
}

void CMailQueue::StopWorker()
{
    m_queue.Stop();
}
