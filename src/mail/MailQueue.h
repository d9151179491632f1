#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include <QString>

#include "mail/SmtpSession.h"
#include "platform/WorkQueue.h"

class Event;

// The mailbox the alarm mails log in with (the application's MailSender and MailPassword).
struct MailAccount
{
    QString sender;
    QString password;
};

// The time-outs of the mail queue's sessions.
struct MailQueueTiming
{
    SmtpCommandTable commands = SmtpCommandTable::Default();
};

// Told the outcome of one mail once it is known (true: the server accepted it), on the
// thread that learnt it: the worker, the stopping thread, or the queuing thread when the
// mail could not be queued. Called exactly once per queued mail.
using MailDone = std::function<void(bool sent)>;

// One waiting alarm mail: the recipient's address, the text, and the number of its outbox
// record (0: none).
struct MailItem
{
    QString address;
    QString text;
    std::uint64_t outboxId = 0;
    bool resent = false; // resent from the outbox: not counted against kMaxItems
    MailDone done;       // the test mail of the E-Mail dialog waits for its outcome
};

// Told the outbox number of a mail that reached its end: accepted by the server, or finally
// failed. Never for a mail left waiting at the stop. Called on any thread.
using MailFinished = std::function<void(std::uint64_t outboxId)>;

// Turns alarm texts into e-mails on a worker thread of its own, one SMTP session per mail,
// in the order they were queued. QueueMail may be called from any thread; StartWorker and
// StopWorker from the owner's thread. Every mail ends in exactly one event line: sent, or
// not sent (refused, failed, left over at the stop, or queued without an account).
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
    // The function told about every finished mail that carries an outbox number; set it
    // before StartWorker.
    void SetFinished(MailFinished finished) { m_finished = std::move(finished); }

    // Starts the worker. Returns false when the system refuses a thread (mails then wait
    // until StopWorker reports them).
    bool StartWorker();
    // Queues one mail and wakes the worker. While the sender or password is empty, or
    // kMaxItems new mails wait, the mail is reported as not sent at once. Mails resent from
    // the outbox (resent) were accepted by an earlier run: they are always queued, the outbox
    // bounds them, and kMaxItems counts only the others. done, when set, is told the outcome
    // after the event line.
    void QueueMail(QString address, QString text, std::uint64_t outboxId = 0, bool resent = false,
                   MailDone done = {});
    // Stops the worker: its current session ends within a fraction of a second, the
    // thread is joined, and every mail still waiting is reported as not sent.
    void StopWorker();
    // Number of mails waiting.
    std::size_t Pending() const { return m_queue.Size(); }

private:
    // Sends one alarm mail in a session of its own to the outgoing server of the profile,
    // giving up when stop is set, and posts the outcome (string 119 or 120).
    // Returns true when the server accepted it.
    static bool SendAlarmMail(const MailItem& item, const MailAccount& account,
                              const SmtpCommandTable& commands, const Event& stop);
    void Finish(const MailItem& item) const;
    // Reports a mail that was not sent: the event line, then done.
    static void Refuse(const MailItem& item);
    // Counts a mail off m_newWaiting as it leaves the queue.
    void Taken(const MailItem& item);

    const MailQueueTiming m_timing;
    mutable std::mutex m_accountLock; // guards m_account
    MailAccount m_account;
    MailFinished m_finished;
    std::atomic<std::size_t> m_newWaiting{0}; // queued mails that are not resent
    CWorkQueue<MailItem> m_queue;
};
