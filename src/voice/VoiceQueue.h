#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

#include <QString>

#include "platform/Event.h"
#include "platform/Worker.h"

// Pauses of the speech queue; tests may shorten them.
struct VoiceTiming
{
    int stopPollMs = 20; // StopWorker checks whether the worker has ended this often ...
    int stopPolls = 21;  // ... this many times (about 420 ms) before it gives up on it
};

// Speaks alarm texts one after the other on a worker thread that owns the speech engine.
// Any thread queues a text and returns at once. The application owns one instance,
// starts it during start-up and stops it at exit.
class CVoiceQueue
{
public:
    // Texts waiting beyond this number are dropped, oldest first, when the worker takes the
    // next one.
    static constexpr std::size_t kMaxWaiting = 1024;

    explicit CVoiceQueue(const VoiceTiming& timing = {});
    // Stops the worker (StopWorker) and drops whatever still waits.
    ~CVoiceQueue();
    CVoiceQueue(const CVoiceQueue&) = delete;
    CVoiceQueue& operator=(const CVoiceQueue&) = delete;

    // Starts the worker, which creates the speech engine and reports "Succeed to initialize
    // voice engine." or, when there is no engine or audio output, "Failed to initialize
    // voice engine." (error) and ends. Always returns true; a thread the system refuses
    // leaves the queue without a worker. Does nothing while a worker runs.
    bool StartWorker();
    // Tells the worker to end once it has spoken what waits, waits about 420 ms for that,
    // then drops the texts still waiting. A worker still speaking then is left to finish
    // its current text on its own; it takes no further text. Always returns true.
    bool StopWorker();
    // Queues a copy of text (empty texts too) and wakes the worker.
    void QueueSpeech(QString text);
    // Takes the oldest waiting text into text, after dropping the oldest ones beyond
    // kMaxWaiting. Returns false when nothing waits.
    bool TakeNext(QString& text);

    // Number of texts waiting.
    std::size_t Waiting() const;
    // True while a worker thread exists that has not ended.
    bool WorkerRunning() const;
    // Worker threads of every queue in the process that have not ended yet (including
    // those a StopWorker had to leave behind).
    static int LiveWorkers();

private:
    // What the queue and its worker share. The worker holds its own reference, so a worker
    // that outlives StopWorker, or the queue itself, never touches released memory.
    struct Shared
    {
        mutable std::recursive_mutex lock;
        std::deque<QString> texts;
        Event wake{Event::Reset::Auto};
    };
    // One per started worker: a new StartWorker never revives a worker it left behind.
    struct Run
    {
        std::atomic<bool> stop{false};
        std::atomic<bool> abandoned{false}; // StopWorker gave up waiting for it
    };

    static bool TakeNext(Shared& shared, QString& text);
    static void WorkerLoop(std::shared_ptr<Shared> shared, std::shared_ptr<Run> run);

    const VoiceTiming m_timing;
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::shared_ptr<Run> m_run;
    std::unique_ptr<Worker> m_worker;
};
