#pragma once

#include <memory>

#include <QString>

#include "platform/WorkQueue.h"

class SpeechEngine;

// Speaks alarm texts one after the other on a worker thread that owns the speech engine.
// Any thread queues a text and returns at once. The application owns one instance,
// starts it during start-up and stops it at exit. Every text that is not spoken to its end
// (refused by a full queue, cut short or still waiting when the worker stops) is reported
// with an error event naming it.
class CVoiceQueue
{
public:
    // A text queued while this many wait is refused.
    static constexpr std::size_t kMaxWaiting = 1024;

    CVoiceQueue();
    // StopWorker.
    ~CVoiceQueue();
    CVoiceQueue(const CVoiceQueue&) = delete;
    CVoiceQueue& operator=(const CVoiceQueue&) = delete;

    // Starts the worker, which creates the speech engine and reports "Succeed to initialize
    // voice engine." or, when there is no engine or audio output, "Failed to initialize
    // voice engine." (error) and ends; texts then wait until StopWorker reports them. A
    // worker that ended that way is started afresh. Always returns true; a thread the
    // system refuses leaves the queue without a worker.
    bool StartWorker();
    // Cuts the text being spoken short, waits for the worker to end (the audio output and
    // the synthesis watch the stop, so this takes a fraction of a second) and reports the
    // texts still waiting. Always returns true.
    bool StopWorker();
    // Queues a copy of text (empty texts too) and wakes the worker.
    void QueueSpeech(QString text);

    // Number of texts waiting (not counting the one being spoken).
    std::size_t Waiting() const { return m_queue.Size(); }
    // True while a worker thread has been started and has not ended.
    bool WorkerRunning() const { return m_queue.Running(); }

private:
    // The worker's set-up: makes the engine and reports whether it could.
    bool CreateEngine();
    // Speaks one text on the worker; a text cut short by the stop is reported.
    void Speak(QString& text, Event& stop);

    std::unique_ptr<SpeechEngine> m_engine; // made and used by the worker while it runs
    CWorkQueue<QString> m_queue;
};
