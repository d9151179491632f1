#pragma once

#include <cstddef>
#include <memory>
#include <mutex>

#include <QString>

#include "mail/SmtpSession.h"
#include "platform/Worker.h"

// The mailbox the alarm mails log in with (the application's MailSender and MailPassword).
struct MailAccount
{
    QString sender;
    QString password;
};

// Pauses of the mail queue and the time-outs of its sessions.
struct MailQueueTiming
{
    int stopPollMs = 20; // StopWorker looks at the worker this often ...
    int stopPolls = 21;  // ... this many times (about 420 ms) before leaving it behind
    SmtpCommandTable commands = SmtpCommandTable::Default();
};

// One waiting alarm mail: the recipient's address and the text.
class MailItem
{
public:
    MailItem(QString address, QString text) : m_address(std::move(address)), m_text(std::move(text))
    {
    }
    virtual ~MailItem() = default;

    // Sends the mail in a session of its own to the outgoing server of the profile and
    // posts the outcome (string 119 or 120) to the EventSink. Never raises.
    virtual void SendAlarmMail(const MailAccount& account, const SmtpCommandTable& commands);

    const QString& Address() const { return m_address; }
    const QString& Text() const { return m_text; }

private:
    QString m_address;
    QString m_text;
};

// Turns alarm texts into e-mails on a worker thread of its own, one SMTP session per mail,
// in the order they were queued. QueueMail may be called from any thread; StartWorker and
// StopWorker from the owner's thread. The worker owns the state it uses, so a worker that
// is still inside a session when StopWorker gives up on it touches nothing of this object.
class CMailQueue
{
public:
    static constexpr std::size_t kMaxItems = 1024;

    explicit CMailQueue(const MailQueueTiming& timing = {});
    // StopWorker.
    ~CMailQueue();
    CMailQueue(const CMailQueue&) = delete;
    CMailQueue& operator=(const CMailQueue&) = delete;

    // The mailbox used as login for every later mail (the application calls it whenever
    // MailSender or MailPassword change). Safe from any thread.
    void SetAccount(const QString& sender, const QString& password);
    MailAccount Account() const;

    // Starts the worker. Returns false when the system refuses a thread (mails still
    // queue, nothing is sent).
    bool StartWorker();
    // Queues one mail and wakes the worker. Dropped without a trace while the sender or
    // password is empty; addresses and texts are not checked here.
    void QueueMail(QString address, QString text);
    // Hands out the oldest waiting mail. When more than kMaxItems wait, the oldest beyond
    // that are failed first (one error event each). Returns false when none waits.
    bool TakeNext(std::unique_ptr<MailItem>* item);
    // Stops the worker: waits about 420 ms for it, then leaves a worker that is still
    // sending to finish on its own. Mails still waiting are failed with one error event
    // each. Returns true when the worker had ended within the wait (or none ran).
    bool StopWorker();
    // Number of mails waiting.
    std::size_t Pending() const;

private:
    struct Shared;
    static void RunWorker(const std::shared_ptr<Shared>& shared);
    std::shared_ptr<Shared> State() const;

    MailQueueTiming m_timing;
    mutable std::mutex m_stateLock; // guards m_shared (replaced when a worker is left behind)
    std::shared_ptr<Shared> m_shared;
    Worker m_worker;
};
