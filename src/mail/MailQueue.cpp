#include "mail/MailQueue.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "eventlog/EventSink.h"
#include "platform/CodePage.h"
#include "platform/Event.h"
#include "platform/Logging.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringTable.h"

namespace {

constexpr unsigned kSentText = 119;   // "Send '%s' to '%s' successfully!"
constexpr unsigned kFailedText = 120; // "Send '%s' to '%s' unsuccessfully!"

QByteArray Ansi(const QString& text)
{
    const QByteArray bytes = WideToCodePage(text, CodePage::Ansi, '?');
    return bytes.isNull() ? text.toLatin1() : bytes;
}

void PostOutcome(bool sent, const MailItem& item)
{
    EventSink(sent ? 0 : 1, FormatText(LoadString(sent ? kSentText : kFailedText),
                                       {item.Text(), item.Address()}));
}

} // namespace

// Everything the worker touches lives here and is kept alive by the worker's own
// reference, whatever happens to the queue object.
struct CMailQueue::Shared
{
    explicit Shared(const SmtpCommandTable& table) : commands(table) {}

    bool TakeNext(std::unique_ptr<MailItem>* item)
    {
        std::vector<std::unique_ptr<MailItem>> dropped;
        {
            std::lock_guard<std::recursive_mutex> guard(lock);
            if (items.empty()) {
                return false;
            }
            while (items.size() > kMaxItems) {
                dropped.push_back(std::move(items.front()));
                items.pop_front();
            }
            *item = std::move(items.front());
            items.pop_front();
        }
        for (const auto& d : dropped) {
            PostOutcome(false, *d);
        }
        return true;
    }

    std::vector<std::unique_ptr<MailItem>> TakeAll()
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        std::vector<std::unique_ptr<MailItem>> all;
        for (auto& i : items) {
            all.push_back(std::move(i));
        }
        items.clear();
        return all;
    }

    MailAccount Account()
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        return account;
    }

    const SmtpCommandTable commands;
    mutable std::recursive_mutex lock; // guards items and account
    std::deque<std::unique_ptr<MailItem>> items;
    MailAccount account;
    Event wake{Event::Reset::Auto};
    std::atomic<bool> stop{false};
};

void MailItem::SendAlarmMail(const MailAccount& account, const SmtpCommandTable& commands)
{
    bool sent = false;
    try {
        CSmtpSession session(commands);
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
        session.SetSenderAddress(Ansi(m_address));
        session.SetSubject("Alarm Event");
        session.AddRecipient(Ansi(m_address));
        session.SetPriority(CSmtpSession::kPriorityHigh);
        session.SetMailer("Alarm");
        session.AddBodyLine(Ansi(m_text));
        session.AddBodyLine("\n");
        session.SendMail();
        session.Disconnect(); // a failing QUIT fails the mail
        sent = true;
    } catch (const ECSmtp& e) {
        qCDebug(lcSmtp) << "alarm mail to" << m_address << "failed with" << e.Code();
    }
    PostOutcome(sent, *this);
}

CMailQueue::CMailQueue(const MailQueueTiming& timing)
    : m_timing(timing), m_shared(std::make_shared<Shared>(timing.commands))
{
    m_shared->wake.ResetEvent();
}

CMailQueue::~CMailQueue()
{
    StopWorker();
}

void CMailQueue::SetAccount(const QString& sender, const QString& password)
{
    const auto shared = State();
    std::lock_guard<std::recursive_mutex> guard(shared->lock);
    shared->account = MailAccount{sender, password};
}

MailAccount CMailQueue::Account() const
{
    return State()->Account();
}

bool CMailQueue::StartWorker()
{
    if (m_worker.IsStarted()) {
        return true;
    }
    std::shared_ptr<Shared> shared = State();
    shared->stop = false;
    return m_worker.Start([shared] { RunWorker(shared); });
}

void CMailQueue::RunWorker(const std::shared_ptr<Shared>& shared)
{
    while (!shared->stop) {
        shared->wake.Wait();
        std::unique_ptr<MailItem> item;
        while (shared->TakeNext(&item)) {
            item->SendAlarmMail(shared->Account(), shared->commands);
            item.reset();
        }
    }
}

void CMailQueue::QueueMail(QString address, QString text)
{
    const auto shared = State();
    {
        std::lock_guard<std::recursive_mutex> guard(shared->lock);
        if (shared->account.sender.isEmpty() || shared->account.password.isEmpty()) {
            return;
        }
        shared->items.push_back(std::make_unique<MailItem>(std::move(address), std::move(text)));
    }
    shared->wake.Set();
}

bool CMailQueue::TakeNext(std::unique_ptr<MailItem>* item)
{
    return State()->TakeNext(item);
}

bool CMailQueue::StopWorker()
{
    bool ended = true;
    const std::shared_ptr<Shared> old = State();
    old->stop = true;
    old->wake.Set();
    if (m_worker.IsStarted()) {
        ended = m_worker.Join(m_timing.stopPollMs * m_timing.stopPolls);
        if (!ended) {
            // Still inside a session: it finishes on its own with its own reference to the
            // old state; this queue carries on with a fresh one.
            qCDebug(lcSmtp) << "mail worker left to finish its session";
            m_worker.Detach();
            auto fresh = std::make_shared<Shared>(m_timing.commands);
            fresh->account = old->Account();
            std::lock_guard<std::mutex> guard(m_stateLock);
            m_shared = std::move(fresh);
        }
    }
    for (const auto& item : old->TakeAll()) {
        PostOutcome(false, *item);
    }
    return ended;
}

std::size_t CMailQueue::Pending() const
{
    const auto shared = State();
    std::lock_guard<std::recursive_mutex> guard(shared->lock);
    return shared->items.size();
}

std::shared_ptr<CMailQueue::Shared> CMailQueue::State() const
{
    std::lock_guard<std::mutex> guard(m_stateLock);
    return m_shared;
}
