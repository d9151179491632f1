#include "voice/VoiceQueue.h"

#include "eventlog/EventSink.h"
#include "platform/Logging.h"
#include "platform/SpeechEngine.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

namespace {

void ReportUnspoken(const QString& text, WorkDrop why)
{
    qCDebug(lcVoice, "not spoken (%s): %s", why == WorkDrop::Overflow ? "queue full" : "stopped",
            qUtf8Printable(text));
    EventSink(
        EventType::Error,
        FormatText(LoadString(why == WorkDrop::Overflow ? kIdsSpeechQueueFull : kIdsSpeechStopped),
                   {text}));
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
        EventSink(EventType::Error, LoadString(kIdsVoiceEngineFailed));
        return false;
    }
    EventSink(EventType::Information, LoadString(kIdsVoiceEngineReady));
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
