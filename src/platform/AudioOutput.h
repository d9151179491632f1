#pragma once

#include <cstddef>
#include <cstdint>

#include <QString>

struct _snd_pcm;
class Event;

// Synchronous playback of 16-bit interleaved PCM on ALSA's "default" device (which reaches
// PulseAudio or PipeWire through their ALSA plugins). Every failure is reported: a missing
// device fails Open, a device lost while playing fails Write or Finish. The device is driven
// without blocking, so a wait for room or for the end of playback watches a stop event and
// gives up within a few tens of milliseconds of it.
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
    // Queues frames of interleaved samples, waiting while the device buffer is full.
    // Underruns are recovered; returns false when the device fails or is not open, or when
    // stop (if given) is set.
    bool Write(const std::int16_t* samples, std::size_t frames, Event* stop = nullptr,
               QString* error = nullptr);
    // Waits until everything written has been played (at most a few device buffers long),
    // then closes. Returns false when the device failed or stalled on the way, or stop was
    // set (what was left is dropped); the stream is closed either way.
    bool Finish(Event* stop = nullptr, QString* error = nullptr);
    // Drops whatever has not been played yet and closes.
    void Abort();
    bool IsOpen() const { return m_pcm != nullptr; }
    unsigned Channels() const { return m_channels; }

private:
    void Close();

    _snd_pcm* m_pcm = nullptr;
    unsigned m_channels = 0;
};
