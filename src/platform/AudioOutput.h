#pragma once

#include <cstddef>
#include <cstdint>

#include <QString>

struct _snd_pcm;

// Synchronous playback of 16-bit interleaved PCM on ALSA's "default" device (which reaches
// PulseAudio or PipeWire through their ALSA plugins). Every failure is reported: a missing
// device fails Open, a device lost while playing fails Write or Finish.
class AudioOutput
{
public:
    AudioOutput() = default;
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Opens the device for rate and channels. Returns false (error text in *error) when the
    // device cannot be opened or refuses the format; closes any earlier stream first.
    bool Open(unsigned rate, unsigned channels, QString* error = nullptr);
    // Queues frames of interleaved samples, blocking while the device buffer is full.
    // Underruns are recovered; returns false when the device fails or is not open.
    bool Write(const std::int16_t* samples, std::size_t frames, QString* error = nullptr);
    // Waits until everything written has been played, then closes. Returns false when the
    // device failed on the way (the stream is closed either way).
    bool Finish(QString* error = nullptr);
    // Drops whatever has not been played yet and closes.
    void Abort();
    bool IsOpen() const { return m_pcm != nullptr; }
    unsigned Channels() const { return m_channels; }

private:
    void Close();

    _snd_pcm* m_pcm = nullptr;
    unsigned m_channels = 0;
};
