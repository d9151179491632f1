#pragma once

#include <cstdint>
#include <functional>

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The Voice dialog: the switch for spoken alarms, a test text with its "Speech" button, and
// the loudspeaker master volume in steps of 10 ("V+", "V-"), shown in the title. A volume
// step takes effect at once (Cancel does not undo it) and plays the chime on a thread of its
// own, so the dialog never waits for the sound. Without a sound card that has a master volume the
// dialog still opens: a line says so and the volume buttons stay disabled.
class CDlgVoice : public QDialog
{
    Q_OBJECT

public:
    // queueSpeech receives the test text of the "Speech" button (the application's speech
    // queue). The text starts as profile "Voice"/"Text".
    explicit CDlgVoice(std::function<void(const QString&)> queueSpeech, QWidget* parent = nullptr);

    // The switch for spoken alarms (the check box).
    void SetVoiceEnabled(bool on);
    bool VoiceEnabled() const;
    // The master volume read before the dialog opened; hasMixer false: no sound card with a
    // master volume (the title then shows volume, usually 0).
    void SetVolume(std::uint16_t volume, bool hasMixer);
    std::uint16_t Volume() const { return m_volume; }
    QString Text() const;

    // The volume step of "V+" (delta +10) and "V-" (-10): re-reads the master volume, moves
    // it within 0 to 100, writes it to every card, shows it in the title and starts the
    // chime. A master volume that can no longer be read leaves the volume as it was and
    // shows the missing sound card instead.
    void StepVolume(int delta);
    // True while the chime of a step is playing (user-interface thread).
    static bool ChimePlaying();
    // The "Speech" button: stores the text as profile "Voice"/"Text" and queues it.
    void Speak();

private:
    void StartChime();
    void UpdateControls();
    void UpdateTitle();
    void ShowMixer(bool hasMixer);

    std::function<void(const QString&)> m_queueSpeech;
    std::uint16_t m_volume = 0;
    bool m_hasMixer = false;
    QCheckBox* m_enabled = nullptr;
    QLabel* m_textLabel = nullptr;
    QLineEdit* m_text = nullptr;
    QPushButton* m_speech = nullptr;
    QPushButton* m_up = nullptr;
    QPushButton* m_down = nullptr;
    QLabel* m_noSoundCard = nullptr;
};
