#include "platform/SpeechEngine.h"

#include <mutex>

#include <espeak-ng/speak_lib.h>

#include <QLocale>

#include "platform/AudioOutput.h"
#include "platform/Event.h"
#include "platform/Logging.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"

namespace {

// Milliseconds of audio espeak-ng hands the callback at a time: the granularity at which
// playback starts and the synthesis sees a stop.
constexpr int kChunkMs = 100;

// espeak-ng's state is global: one lock over initialisation, voice choice and synthesis.
std::mutex g_espeakLock;
int g_rate = 0;                             // sample rate once initialised
const SpeechEngine* g_voiceOwner = nullptr; // engine whose voice is currently selected

struct Utterance
{
    AudioOutput* output = nullptr;
    Event* stop = nullptr;
    bool failed = false;
    bool cancelled = false;
    QString error;
};

int SynthCallback(short* wav, int count, espeak_EVENT* events)
{
    auto* utterance = static_cast<Utterance*>(events ? events->user_data : nullptr);
    if (!utterance) {
        return 1;
    }
    const auto stopped = [utterance] { return utterance->stop && utterance->stop->IsSet(); };
    if (stopped()) {
        utterance->cancelled = true;
        return 1;
    }
    if (wav && count > 0 &&
        !utterance->output->Write(wav, static_cast<std::size_t>(count), utterance->stop,
                                  &utterance->error)) {
        // The output gives up on a stop as well as on a failing device.
        utterance->cancelled = stopped();
        utterance->failed = !utterance->cancelled;
        return 1;
    }
    return 0;
}

// Initialises espeak-ng once per process (a failed attempt is retried next time). Call
// with g_espeakLock held.
bool EnsureEspeak(QString* error)
{
    if (g_rate > 0) {
        return true;
    }
    const int rate =
        espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, kChunkMs, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate <= 0) {
        if (error) {
            *error = QStringLiteral("espeak-ng cannot be initialised (voice data missing?)");
        }
        return false;
    }
    espeak_SetSynthCallback(SynthCallback);
    g_rate = rate;
    return true;
}

bool SelectByName(const QByteArray& name)
{
    return !name.isEmpty() && espeak_SetVoiceByName(name.constData()) == EE_OK;
}

// Chooses the voice. Call with g_espeakLock held.
QByteArray ChooseVoice()
{
    const QByteArray configured = GetProfileString(kProfileVoiceName).trimmed().toUtf8();
    if (SelectByName(configured)) {
        return configured;
    }
    if (!configured.isEmpty()) {
        qCDebug(lcVoice) << "espeak-ng has no voice" << configured
                         << "- using the locale's language";
    }
    // "de_AT" -> "de-at", then "de"; the C locale names no language.
    const QString locale = QLocale::system().name();
    if (locale != QLatin1String("C")) {
        const QByteArray full =
            locale.toLower().replace(QLatin1Char('_'), QLatin1Char('-')).toUtf8();
        const QByteArray language =
            QLocale::system().name().section(QLatin1Char('_'), 0, 0).toLower().toUtf8();
        for (const QByteArray& candidate : {full, language}) {
            if (SelectByName(candidate)) {
                return candidate;
            }
        }
    }
    const QByteArray english("en");
    SelectByName(english);
    return english;
}

} // namespace

SpeechEngine::~SpeechEngine()
{
    std::lock_guard lock(g_espeakLock);
    if (g_voiceOwner == this) {
        g_voiceOwner = nullptr;
    }
}

std::unique_ptr<SpeechEngine> SpeechEngine::Create(QString* error)
{
    std::unique_ptr<SpeechEngine> engine;
    {
        std::lock_guard lock(g_espeakLock);
        if (!EnsureEspeak(error)) {
            return nullptr;
        }
        engine.reset(new SpeechEngine(g_rate, ChooseVoice()));
        g_voiceOwner = engine.get();
    }
    // The device is opened for each utterance (so the chime and other programs can use it
    // between alarms); here it is only checked.
    AudioOutput probe;
    if (!probe.Open(static_cast<unsigned>(engine->m_rate), 1, error)) {
        return nullptr;
    }
    probe.Abort();
    qCDebug(lcVoice) << "speech engine ready, voice" << engine->m_voice << "at" << engine->m_rate
                     << "Hz";
    return engine;
}

bool SpeechEngine::Speak(const QString& text, Event* stop, QString* error)
{
    AudioOutput output;
    if (!output.Open(static_cast<unsigned>(m_rate), 1, error)) {
        return false;
    }
    Utterance utterance;
    utterance.output = &output;
    utterance.stop = stop;
    const QByteArray utf8 = text.toUtf8();
    espeak_ERROR result;
    {
        std::lock_guard lock(g_espeakLock);
        if (g_voiceOwner != this) {
            espeak_SetVoiceByName(m_voice.constData());
            g_voiceOwner = this;
        }
        result = espeak_Synth(utf8.constData(), static_cast<size_t>(utf8.size()) + 1, 0,
                              POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, &utterance);
    }
    if (utterance.cancelled || utterance.failed || result != EE_OK) {
        output.Abort();
        if (error) {
            *error = utterance.failed      ? utterance.error
                     : utterance.cancelled ? QStringLiteral("cancelled")
                                           : QStringLiteral("espeak-ng synthesis failed");
        }
        return false;
    }
    return output.Finish(stop, error);
}
