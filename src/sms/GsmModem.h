#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
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
    int sendWaitMs = 10000;       // SendWait, before the send is judged
    int sendRetryPauseMs = 500;   // SendRetryPause
    int listPauseMs = 100;        // ListWait, before each read
    int listTimeoutMs = 15000;    // ListWait gives up after this since the listing
    int deletePauseMs = 100;      // DeleteWait
    int deleteGapMs = 5;          // DeleteWait: no answer after this goes back to Init
    int deleteRetryPauseMs = 500; // DeleteRetryPause
    int joinPollMs = 20;          // StopWorker: one wait for the thread to end ...
    int joinPolls = 101;          // ... and the number of such waits
    // Port time-outs; an interval of -1 is 35000 / baud rate (3.5 character times).
    int readIntervalMs = -1;
    int readMultiplierMs = 1;
    int readConstantMs = 1500;
    int writeMultiplierMs = 1;
    int writeConstantMs = 1500;
};

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
// messages that arrive in its inbox. Every outcome is an event line. QueueSms may be called
// from any thread; port I/O happens on the worker once the constructor has returned.
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

    // Opens the port, runs the modem set-up once on the calling thread (it may block for a
    // few read time-outs), then starts the worker. A port that cannot be opened is tried
    // again by the worker.
    CGsmModem(const QString& portName, unsigned baudRate = 9600, unsigned byteSize = 8,
              unsigned stopBits = 0, unsigned parity = 0, const ModemTiming& timing = {});
    // Stops the worker (at most one step and one read long) and closes the port; messages
    // still waiting are dropped.
    ~CGsmModem();
    CGsmModem(const CGsmModem&) = delete;
    CGsmModem& operator=(const CGsmModem&) = delete;

    // Queues one SMS of at most 70 characters. Nothing happens for an empty text or while
    // the modem has not told its SMSC number; an invalid number or a full queue is refused
    // with an error event naming the number and the text. Returns at once.
    void QueueSms(const QString& telephone, const QString& text);

    // The port name ("COM1") and the SMSC number the modem reported (empty until then).
    QString PortName() const { return m_portName; }
    QString SmscNumber() const;
    // Messages waiting in the send ring.
    int PendingCount() const;

    // Starts the worker thread. Returns false when it runs already or cannot start.
    bool StartWorker();
    // Stops the worker and waits for it. Safe to call when none runs.
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
    std::size_t SendPdu(const SmsRecord& record);
    void ListUnread();
    void DeleteMessage(unsigned index);
    bool TakeNext(SmsRecord& record);
    bool CheckLost();
    void Pause(int ms);
    void ModemWorker();
    // Pauses, then reads the reply to the command just written (into a cleared buffer when
    // freshReply). Returns false when the step ends here: stopped during the pause, or the
    // device was lost (the state is then Init).
    bool AwaitReply(WorkerState& w, int pauseMs, bool freshReply, ModemReply* r);
    void Step(WorkerState& w);
    void SetState(WorkerState& w, ModemState next);

    const QString m_portName;
    const unsigned m_baudRate;
    const unsigned m_byteSize;
    const unsigned m_parity;
    const unsigned m_stopBits;
    const ModemTiming m_timing;

    mutable std::mutex m_sendLock; // SendRing, its indexes, nextIndex
    std::unique_ptr<SmsRecord[]> m_sendRing;
    int m_writeIndex = 0;
    int m_readIndex = 0;
    int m_queued = 0;
    std::uint8_t m_nextIndex = 1;

    mutable std::mutex m_smscLock;
    QString m_smscNumber;

    Event m_stop{Event::Reset::Manual};
    Event m_exited{Event::Reset::Manual};
    std::unique_ptr<Worker> m_worker;

    // Worker side (and the constructor before the worker starts).
    CSerialPort m_port;
    bool m_needInit = true;
    int m_sendAttempts = 0;
    int m_readFailures = 0;
    int m_failureStreak = 0;
    bool m_warned = false;
};

// The application's modem pointer: the driver may be replaced or removed on one thread
// while a fan-out on another calls QueueSms. A replaced driver is destroyed on the thread
// that replaces it, after any QueueSms inside it has returned.
class CModemSlot
{
public:
    explicit CModemSlot(const ModemTiming& timing = {}) : m_timing(timing) {}
    ~CModemSlot();
    CModemSlot(const CModemSlot&) = delete;
    CModemSlot& operator=(const CModemSlot&) = delete;

    // Destroys the current driver (if any), then creates one on the zero-based port index
    // comPort (COM1 for 0) at 9600 baud 8N1. Blocks for the driver's stop and set-up.
    void Replace(int comPort);
    // The same for a port name ("COM3", a device path).
    void Replace(const QString& portName);
    // Destroys the current driver; QueueSms does nothing afterwards.
    void Clear();
    // Queues at the current driver; does nothing while there is none.
    void QueueSms(const QString& telephone, const QString& text);
    // True while a driver is installed.
    bool HasModem() const;

private:
    void Release();

    const ModemTiming m_timing;
    mutable std::mutex m_mutex; // held by QueueSms and the pointer swap, never across I/O
    std::unique_ptr<CGsmModem> m_modem;
    std::mutex m_replaceMutex; // one replacement or removal at a time, in call order
};
