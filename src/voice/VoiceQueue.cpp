#include "voice/VoiceQueue.h"

#include "eventlog/EventSink.h"
#include "platform/Logging.h"
#include "platform/SpeechEngine.h"
#include "platform/StringTable.h"
#include "platform/Tick.h"

namespace {

constexpr unsigned kIdsFailedEngine = 61310;  // "Failed to initialize voice engine."
constexpr unsigned kIdsSucceedEngine = 61311; // "Succeed to initialize voice engine."

std::atomic<int> g_liveWorkers{0};

} // namespace

CVoiceQueue::CVoiceQueue(const VoiceTiming& timing) : m_timing(timing)
{
    m_shared->wake.ResetEvent();
}

CVoiceQueue::~CVoiceQueue()
{
    StopWorker();
}

bool CVoiceQueue::StartWorker()
{
    if (m_worker && !m_worker->IsFinished()) {
        return true;
    }
    m_worker.reset(); // one that ended on its own (no engine) is joined here
    auto run = std::make_shared<Run>();
    auto worker = std::make_unique<Worker>();
    ++g_liveWorkers;
    if (!worker->Start([shared = m_shared, run] {
            WorkerLoop(shared, run);
            --g_liveWorkers;
        })) {
        --g_liveWorkers;
        qCDebug(lcVoice) << "the speech worker could not be started";
        return true;
    }
    m_run = std::move(run);
    m_worker = std::move(worker);
    return true;
}

bool CVoiceQueue::StopWorker()
{
    if (m_run) {
        m_run->stop = true;
    }
    m_shared->wake.Set();
    if (m_worker) {
        // Thread priorities need privileges on Linux; the worker runs at the normal one.
        for (int i = 0; i < m_timing.stopPolls && !m_worker->IsFinished(); ++i) {
            SleepMs(m_timing.stopPollMs);
        }
        if (m_worker->IsFinished()) {
            m_worker->Join();
        } else {
            qCDebug(lcVoice) << "the speech worker is still speaking; it ends on its own";
            m_run->abandoned = true;
            m_worker->Detach();
        }
        m_worker.reset();
        m_run.reset();
    }
    std::lock_guard lock(m_shared->lock);
    m_shared->texts.clear();
    return true;
}

void CVoiceQueue::QueueSpeech(QString text)
{
    {
        std::lock_guard lock(m_shared->lock);
        m_shared->texts.push_back(std::move(text));
    }
    m_shared->wake.Set();
}

bool CVoiceQueue::TakeNext(QString& text)
{
    return TakeNext(*m_shared, text);
}

bool CVoiceQueue::TakeNext(Shared& shared, QString& text)
{
    std::lock_guard lock(shared.lock);
    if (shared.texts.empty()) {
        return false;
    }
    if (shared.texts.size() > kMaxWaiting) {
        const std::size_t dropped = shared.texts.size() - kMaxWaiting;
        shared.texts.erase(shared.texts.begin(),
                           shared.texts.begin() + static_cast<std::ptrdiff_t>(dropped));
        qCDebug(lcVoice) << "dropped" << dropped << "texts beyond" << kMaxWaiting;
    }
    text = std::move(shared.texts.front());
    shared.texts.pop_front();
    return true;
}

std::size_t CVoiceQueue::Waiting() const
{
    std::lock_guard lock(m_shared->lock);
    return m_shared->texts.size();
}

bool CVoiceQueue::WorkerRunning() const
{
    return m_worker && !m_worker->IsFinished();
}

int CVoiceQueue::LiveWorkers()
{
    return g_liveWorkers.load();
}

void CVoiceQueue::WorkerLoop(std::shared_ptr<Shared> shared, std::shared_ptr<Run> run)
{
    QString error;
    std::unique_ptr<SpeechEngine> engine = SpeechEngine::Create(&error);
    if (!engine) {
        qCDebug(lcVoice) << "no speech engine:" << error;
        EventSink(1, LoadString(kIdsFailedEngine));
        return;
    }
    EventSink(0, LoadString(kIdsSucceedEngine));
    while (!run->stop) {
        shared->wake.Wait();
        QString text;
        // A worker that StopWorker left behind takes nothing more: the queue may already be
        // served by its successor.
        while (!run->abandoned && TakeNext(*shared, text)) {
            qCDebug(lcVoice, "speaking: %s", qUtf8Printable(text));
            if (engine->Speak(text, &run->abandoned, &error)) {
                qCDebug(lcVoice, "spoken: %s", qUtf8Printable(text));
            } else {
                qCDebug(lcVoice, "not spoken (%s): %s", qUtf8Printable(error),
                        qUtf8Printable(text));
            }
        }
    }
}
