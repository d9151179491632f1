#pragma once

#include <vector>

#include <QString>

struct _snd_mixer;
struct _snd_mixer_elem;

// The loudspeaker volume of a sound card through the ALSA simple mixer, in four steps: open
// (reported as mixerOpen), find the loudspeaker line, get its volume control (reported as
// mixerGetLineControls), read and write the channel values. Cards are addressed as "hw:N",
// so an ALSA configuration can put any control device there.
class Mixer
{
public:
    // Cards 0 to 4 are the mixer devices; later cards are not looked at.
    static constexpr unsigned kMaxCards = 5;

    // The volume control of a loudspeaker line.
    struct VolumeControl
    {
        QString element;       // simple mixer element: "Master", "Speaker" or "PCM"
        unsigned channels = 0; // playback channels of the element
        long minimum = 0;      // raw range of the control
        long maximum = 0;
    };

    Mixer() = default;
    ~Mixer();
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    // True when card (0 to 4) has a control device (mixerGetNumDevs counts these).
    static bool CardExists(unsigned card);

    // Opens the simple mixer of card. Returns 0, or the positive error number of the ALSA
    // call that failed (nothing stays open then).
    int Open(unsigned card);
    // Finds the loudspeaker line: the first of "Master", "Speaker", "PCM" with a playback
    // volume, else the first of them that exists. Returns false when the card has none.
    bool FindSpeakerLine(QString& element);
    // Fills control with the line's playback volume control. Returns 0, or a positive error
    // number (EINVAL when the element has no playback volume).
    int GetVolumeControl(const QString& element, VolumeControl& control);
    // Reads the raw value of every channel. Returns false when the control cannot be read.
    bool GetValues(const VolumeControl& control, std::vector<long>& values);
    // Writes raw to every channel. Returns false when the control cannot be written.
    bool SetValues(const VolumeControl& control, long raw);
    void Close();

private:
    _snd_mixer_elem* Find(const QString& element) const;

    _snd_mixer* m_mixer = nullptr;
};
