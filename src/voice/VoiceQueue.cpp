#include "voice/VoiceQueue.h"

#include "eventlog/EventSink.h"
#include "platform/Logging.h"
#include "platform/SpeechEngine.h"
#include "platform/StringTable.h"

namespace {

constexpr unsigned kIdsFailedEngine = 61310;  // "Failed to initialize voice engine."
constexpr unsigned kIdsSucceedEngine = 61311; // "Succeed to initialize voice engine."
constexpr unsigned kIdsQueueFull = 61312; // "Speak '%s' unsuccessfully! The speech queue is full."
constexpr unsigned kIdsStopped = 61313;   // "Speak '%s' unsuccessfully! The speech worker stopped."

void ReportUnspoken(const QString& text, WorkDrop why)
{
    qCDebug(lcVoice, "not spoken (%s): %s", why == WorkDrop::Overflow ? "queue full" : "stopped",
            qUtf8Printable(text));
    EventSink(
        1, FormatText(LoadString(why == WorkDrop::Overflow ? kIdsQueueFull : kIdsStopped), {text}));
}

} // namespace

CVoiceQueue::CVoiceQueue()
    : m_queue(kMaxWaiting, [](QString& text, WorkDrop why) { ReportUnspoken(text, why); })
{
}

CVoiceQueue::~CVoiceQueue()
{
    StopWorker();
}

bool CVoiceQueue::StartWorker()
{
    if (!m_queue.Start([this](QString& text, Event& stop) { Speak(text, stop); },
                       [this] { return CreateEngine(); })) {
        qCDebug(lcVoice) << "the speech worker could not be started";
    }
    return true;
}

bool CVoiceQueue::CreateEngine()
{
    QString error;
    m_engine = SpeechEngine::Create(&error);
    if (!m_engine) {
        qCDebug(lcVoice) << "no speech engine:" << error;
        EventSink(1, LoadString(kIdsFailedEngine));
        return false;
    }
    EventSink(0, LoadString(kIdsSucceedEngine));
    return true;
}

bool CVoiceQueue::StopWorker()
{
    m_queue.Stop();
    m_engine.reset(); // the worker has been joined
    return true;
}

void CVoiceQueue::QueueSpeech(QString text)
{
    m_queue.Push(std::move(text));
}

void CVoiceQueue::Speak(QString& text, Event& stop)
{
    qCDebug(lcVoice, "speaking: %s", qUtf8Printable(text));
    QString error;
    if (m_engine->Speak(text, &stop, &error)) {
        qCDebug(lcVoice, "spoken: %s", qUtf8Printable(text));
    } else if (stop.IsSet()) {
        ReportUnspoken(text, WorkDrop::Stopped); // cut short
    } else {
        // A failing output is logged only; the next text opens the device afresh.
        qCDebug(lcVoice, "not spoken (%s): %s", qUtf8Printable(error), qUtf8Printable(text));
    }
}
