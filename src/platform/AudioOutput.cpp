#include "platform/AudioOutput.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include <alsa/asoundlib.h>

#include "platform/AlsaLog.h"
#include "platform/Event.h"
#include "platform/Logging.h"
#include "platform/Tick.h"

namespace {

// Device buffer: long enough to ride out a busy moment, short enough that a cancelled
// utterance stops soon.
constexpr unsigned kLatencyUs = 200000;
// A wait for room in the buffer or for the end of playback looks at the stop this often.
constexpr int kWaitMs = 20;
// A device that takes no samples, or does not play out its buffer (about kLatencyUs), for
// this long has stalled.
constexpr int kStallLimitMs = 2000;

void AlsaErrorToLog(const char* file, int line, const char* function, int err, const char* fmt, ...)
{
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    qCDebug(lcVoice, "alsa %s:%d (%s) %s%s%s", file, line, function, text, err ? ": " : "",
            err ? snd_strerror(err) : "");
}

QString AlsaError(const char* what, int err)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(snd_strerror(err)));
}

void SetError(QString* error, const QString& text)
{
    qCDebug(lcVoice) << "audio output:" << text;
    if (error) {
        *error = text;
    }
}

// Waits up to ms, returning early (true) once stop is set.
bool StopWithin(Event* stop, int ms)
{
    if (stop) {
        return stop->IsSet() || stop->Wait(ms);
    }
    SleepMs(ms);
    return false;
}

} // namespace

void InstallAlsaErrorLog()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(AlsaErrorToLog); });
}

AudioOutput::~AudioOutput()
{
    Abort();
}

bool AudioOutput::Open(unsigned rate, unsigned channels, QString* error)
{
    InstallAlsaErrorLog();
    Close();
    if (rate == 0 || channels == 0) {
        SetError(error,
                 QStringLiteral("unsupported format: %1 Hz, %2 channels").arg(rate).arg(channels));
        return false;
    }
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        SetError(error, AlsaError("cannot open the default audio device", err));
        return false;
    }
    // Some plugins learn the mode only this way; without it their drain blocks.
    snd_pcm_nonblock(pcm, 1);
    err = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, channels, rate,
                             1, kLatencyUs);
    if (err < 0) {
        snd_pcm_close(pcm);
        SetError(error, AlsaError("the audio device refuses 16-bit PCM", err));
        return false;
    }
    m_pcm = pcm;
    m_channels = channels;
    return true;
}

bool AudioOutput::Write(const std::int16_t* samples, std::size_t frames, Event* stop,
                        QString* error)
{
    if (!m_pcm) {
        SetError(error, QStringLiteral("the audio device is not open"));
        return false;
    }
    for (std::uint64_t progress = GetTickCount64(); frames > 0;) {
        const bool stalled = GetTickCount64() - progress > kStallLimitMs;
        if (stalled || (stop && stop->IsSet())) {
            SetError(error, stalled ? QStringLiteral("audio playback failed: the device stalled")
                                    : QStringLiteral("stopped"));
            return false;
        }
        snd_pcm_sframes_t done = snd_pcm_writei(m_pcm, samples, frames);
        if (done == -EAGAIN) {
            done = snd_pcm_wait(m_pcm, kWaitMs); // room, a time-out, or an error to recover
            if (done >= 0) {
                continue;
            }
        }
        if (done < 0) {
            // An underrun or a suspend is a passing condition; anything else (the device
            // went away) ends this stream.
            const int err = snd_pcm_recover(m_pcm, static_cast<int>(done), 1);
            if (err < 0) {
                SetError(error, AlsaError("audio playback failed", err));
                return false;
            }
            continue;
        }
        samples += static_cast<std::size_t>(done) * m_channels;
        frames -= static_cast<std::size_t>(done);
        progress = GetTickCount64();
    }
    return true;
}

bool AudioOutput::Finish(Event* stop, QString* error)
{
    if (!m_pcm) {
        SetError(error, QStringLiteral("the audio device is not open"));
        return false;
    }
    // Without blocking, a drain that has not ended says so; ask again until it has (a
    // device that has played out reports done), watching the stop meanwhile.
    int err = 0;
    for (int waited = 0; (err = snd_pcm_drain(m_pcm)) == -EAGAIN; waited += kWaitMs) {
        if (waited >= kStallLimitMs || StopWithin(stop, kWaitMs)) {
            const bool stopped = stop && stop->IsSet();
            Abort();
            SetError(error, stopped ? QStringLiteral("stopped")
                                    : QStringLiteral("audio playback failed: the device stalled"));
            return false;
        }
    }
    Close();
    if (err < 0) {
        SetError(error, AlsaError("audio playback failed", err));
        return false;
    }
    return true;
}

void AudioOutput::Abort()
{
    if (m_pcm) {
        snd_pcm_drop(m_pcm);
    }
    Close();
}

void AudioOutput::Close()
{
    if (m_pcm) {
        snd_pcm_close(m_pcm);
        m_pcm = nullptr;
    }
    m_channels = 0;
}
