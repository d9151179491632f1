#pragma once

#include <memory>

#include <QByteArray>
#include <QString>

// The text-to-speech voice: espeak-ng synthesising into memory, its samples played through
// an AudioOutput as they come. espeak-ng keeps process-wide state, so every engine shares
// one library instance and speaks under one lock; two engines never synthesise at once.
class Event;

class SpeechEngine
{
public:
    ~SpeechEngine();
    SpeechEngine(const SpeechEngine&) = delete;
    SpeechEngine& operator=(const SpeechEngine&) = delete;

    // Makes an engine with the voice of profile "Voice"/"Name", else the locale's language
    // when espeak-ng has it, else English, and checks that the audio output opens.
    // Returns null (reason in *error) when espeak-ng or the output is not available.
    static std::unique_ptr<SpeechEngine> Create(QString* error = nullptr);

    // Says text and returns once it has been played. Returns false when the output failed
    // on the way, or when stop became set: synthesis and playback watch it, so the rest is
    // dropped within a fraction of a second.
    bool Speak(const QString& text, Event* stop = nullptr, QString* error = nullptr);

    // The espeak-ng voice in use ("en", "de", ...).
    QString VoiceName() const { return QString::fromUtf8(m_voice); }
    // Samples per second of the synthesised audio (mono).
    int SampleRate() const { return m_rate; }

private:
    SpeechEngine(int rate, QByteArray voice) : m_rate(rate), m_voice(std::move(voice)) {}

    int m_rate;
    QByteArray m_voice;
};
