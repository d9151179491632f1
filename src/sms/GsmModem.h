#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include <QString>

#include "platform/Event.h"
#include "platform/SerialPort.h"
#include "platform/Worker.h"
#include "sms/SmsCodec.h"

// Every pause and time-out of the modem driver; the defaults are the driver's design
// values, tests shrink them.
struct ModemTiming
{
    int stopPollMs = 20;          // wait on the stop event after every step
    int idlePauseMs = 300;        // Idle
    int listGapMs = 5;            // since the time mark before the inbox is listed
    int sendWaitMs = -1;          // SendWait: no answer after this is none (-1: profile)
    int sendPollMs = 50;          // SendWait: pause before each read of the answer
    int maxParts = -1;            // messages one long text is sent as (-1: profile)
    int sendRetryPauseMs = 500;   // SendRetryPause
    int listPauseMs = 100;        // ListWait, before each read
    int listTimeoutMs = 15000;    // ListWait gives up after this since the listing
    int deletePauseMs = 100;      // DeleteWait
    int deleteGapMs = 5;          // DeleteWait: no answer after this goes back to Init
    int deleteRetryPauseMs = 500; // DeleteRetryPause
    // Port time-outs; an interval of -1 is 35000 / baud rate (3.5 character times).
    int readIntervalMs = -1;
    int readMultiplierMs = 1;
    int readConstantMs = 1500;
    int writeMultiplierMs = 1;
    int writeConstantMs = 1500;
};

// One queued request: the destination (record) and the texts of the messages it goes out as,
// more than one for a long text; it succeeds or fails as a whole.
struct OutgoingSms
{
    SmsRecord record{};
    QStringList parts;
    std::uint64_t outboxId = 0; // its outbox record (0: none)
    bool resent = false;        // left from an earlier run: not counted against the bound
};

// Told the outbox number of a message that reached its end: confirmed by the modem, or
// finally failed or refused. Never for one left waiting at the stop. Called on any thread.
using SmsFinished = std::function<void(std::uint64_t outboxId)>;

// The worker's states.
enum class ModemState
{
    Init,
    Idle,
    Send,
    SendWait,
    SendRetryPause,
    List,
    ListWait,
    Delete,
    DeleteWait,
    DeleteRetryPause
};

// Answer of one WaitReply.
enum class ModemReply
{
    Error = -1,
    None = 0,
    Ok = 1
};

// Drives one GSM modem on a serial port: brings it into SMS PDU mode, learns the SMSC
// number, sends queued messages one at a time with retries, and reports and deletes the
// messages that arrive in its inbox. Every outcome is an event line. All port I/O, the
// set-up included, happens on the worker; QueueSms may be called from any thread.
class CGsmModem
{
public:
    static constexpr int kSendRingSize = 32;
    static constexpr int kMaxSendAttempts = 5;
    static constexpr int kFailureStreakWarning = 3;
    static constexpr int kReadFailureWarning = 5;
    static constexpr std::size_t kReadChunk = 128;       // bytes of one judged read
    static constexpr std::size_t kReplyCapacity = 16384; // characters of one reply
    static constexpr int kMaxListing = 256;              // records taken from one listing

    // Starts the worker and returns at once; the worker opens the port (again and again
    // while it cannot) and sets the modem up. A predecessor (the driver this one replaces,
    // told to stop) is joined by the worker first: its port is closed before this one
    // opens, and the messages still waiting in it are sent by this driver, before the ones
    // queued here.
    CGsmModem(const QString& portName, unsigned baudRate = 9600, unsigned byteSize = 8,
              unsigned stopBits = 0, unsigned parity = 0, const ModemTiming& timing = {},
              std::unique_ptr<CGsmModem> predecessor = nullptr, SmsFinished finished = {});
    // StopWorker, then closes the port.
    ~CGsmModem();
    CGsmModem(const CGsmModem&) = delete;
    CGsmModem& operator=(const CGsmModem&) = delete;

    // Queues one SMS of at most 70 characters (with a larger maxParts, a longer text goes out
    // as several messages the phone joins again); it waits until the modem has told its SMSC
    // number. Nothing happens for an empty text; an invalid number or a full queue is
    // refused with an error event naming the number and the text. Returns at once.
    // Requests resent from the outbox (resent) were accepted by an earlier run: they are
    // always queued, the outbox bounds them, and the queue's bound counts only the others.
    void QueueSms(const QString& telephone, const QString& text, std::uint64_t outboxId = 0,
                  bool resent = false);

    // The port name ("COM1") and the SMSC number the modem reported (empty until then).
    QString PortName() const { return m_portName; }
    QString SmscNumber() const;
    // Messages waiting to be sent (the one being sent included once the worker ended).
    int PendingCount() const;

    // Starts the worker thread. Returns false when it runs already or cannot start.
    bool StartWorker();
    // Tells the worker to stop without waiting for it: its pause, read or write ends at
    // once. Safe from any thread.
    void RequestStop();
    // Stops and joins the worker (at most the rest of one step, which no longer waits on
    // the port), then reports every message still waiting with one error event each and
    // forgets them. Safe to call when none runs.
    void StopWorker();

private:
    struct ReplyBuffer
    {
        std::size_t length = 0;
        char text[kReplyCapacity + 1] = {};
        void Clear();
    };
    struct WorkerState;

    bool OpenPort();
    bool ClosePort();
    std::size_t WritePort(const char* data, std::size_t count);
    std::size_t ReadPort(char* buffer, std::size_t count);
    ModemReply WaitReply(ReplyBuffer& reply);
    bool InitializeModem();
    std::size_t SendPdu(SmsRecord& record);
    void ListUnread();
    void DeleteMessage(unsigned index);
    bool TakeNext(OutgoingSms& sms);
    bool CheckLost();
    void Pause(int ms);
    void ModemWorker();
    void JoinWorker();
    // Joins old's worker (and its predecessors') and puts its waiting messages in front of
    // this driver's queue.
    void TakeOver(CGsmModem& old);
    // Empties the send queue and returns what it held.
    std::deque<OutgoingSms> TakeAll();
    void ReportWaiting();
    void Finish(std::uint64_t outboxId) const;
    // Pauses, then reads the reply to the command just written (into a cleared buffer when
    // freshReply). Returns false when the step ends here: stopped, or the device was lost
    // (the state is then Init).
    bool AwaitReply(WorkerState& w, int pauseMs, bool freshReply, ModemReply* r);
    void Step(WorkerState& w);
    void SetState(WorkerState& w, ModemState next);
    // One handler per state.
    void OnInit(WorkerState& w);
    void OnIdle(WorkerState& w);
    void OnSend(WorkerState& w);
    void OnSendWait(WorkerState& w);
    void OnList(WorkerState& w);
    void OnListWait(WorkerState& w);
    void OnDelete(WorkerState& w);
    void OnDeleteWait(WorkerState& w);
    void OnRetryPause(WorkerState& w, int pauseMs, ModemState next);

    const QString m_portName;
    const unsigned m_baudRate;
    const unsigned m_byteSize;
    const unsigned m_parity;
    const unsigned m_stopBits;
    const ModemTiming m_timing;
    const SmsFinished m_finished;

    mutable std::mutex m_sendLock; // the send queue and nextIndex
    std::deque<OutgoingSms> m_sendQueue;
    std::uint8_t m_nextIndex = 1;

    mutable std::mutex m_smscLock;
    QString m_smscNumber;

    Event m_stop{Event::Reset::Manual};
    std::unique_ptr<Worker> m_worker;
    std::unique_ptr<CGsmModem> m_predecessor; // until the worker (or StopWorker) takes over

    // Worker side.
    CSerialPort m_port;
    bool m_needInit = true;
    int m_sendAttempts = 0;
    int m_readFailures = 0;
    int m_failureStreak = 0;
    bool m_warned = false;
};

// The application's modem pointer: the driver may be replaced or removed on one thread
// while a fan-out on another calls QueueSms. A replaced driver is told to stop and handed
// to its successor, whose worker joins it, so Replace never waits on the port.
class CModemSlot
{
public:
    explicit CModemSlot(const ModemTiming& timing = {}, SmsFinished finished = {})
        : m_timing(timing), m_finished(std::move(finished))
    {
    }
    ~CModemSlot();
    CModemSlot(const CModemSlot&) = delete;
    CModemSlot& operator=(const CModemSlot&) = delete;

    // Installs a new driver on the zero-based port index comPort (COM1 for 0) at 9600 baud
    // 8N1 and returns at once: the set-up runs on the driver's worker. The old driver is
    // stopped, and the messages waiting in it go to the new one.
    void Replace(int comPort);
    // The same for a port name ("COM3", a device path).
    void Replace(const QString& portName);
    // Stops and destroys the current driver; every message still waiting in it is reported
    // with one error event before Clear returns. QueueSms does nothing afterwards.
    void Clear();
    // Queues at the current driver (see CGsmModem::QueueSms); does nothing while there is
    // none.
    void QueueSms(const QString& telephone, const QString& text, std::uint64_t outboxId = 0,
                  bool resent = false);
    // True while a driver is installed.
    bool HasModem() const;

private:
    const ModemTiming m_timing;
    const SmsFinished m_finished; // given to every driver
    mutable std::mutex m_mutex;   // held by QueueSms and Replace, never across I/O
    std::unique_ptr<CGsmModem> m_modem;
    std::mutex m_replaceMutex; // one replacement or removal at a time, in call order
};
