#include "platform/AudioOutput.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include <alsa/asoundlib.h>

#include "platform/AlsaLog.h"
#include "platform/Logging.h"

namespace {

// Device buffer: long enough to ride out a busy moment, short enough that a cancelled
// utterance stops soon.
constexpr unsigned kLatencyUs = 200000;

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
    int err = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0);
    if (err < 0) {
        SetError(error, AlsaError("cannot open the default audio device", err));
        return false;
    }
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

bool AudioOutput::Write(const std::int16_t* samples, std::size_t frames, QString* error)
{
    if (!m_pcm) {
        SetError(error, QStringLiteral("the audio device is not open"));
        return false;
    }
    while (frames > 0) {
        snd_pcm_sframes_t done = snd_pcm_writei(m_pcm, samples, frames);
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
    }
    return true;
}

bool AudioOutput::Finish(QString* error)
{
    if (!m_pcm) {
        SetError(error, QStringLiteral("the audio device is not open"));
        return false;
    }
    const int err = snd_pcm_drain(m_pcm);
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
