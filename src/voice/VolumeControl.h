#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include <QString>

// The loudspeaker master volume of sound cards 0 to 4 on a user scale of 0 to a maximum
// (the program uses 100). Every call opens and closes the mixer itself, so a control may be
// made wherever the volume is needed and thrown away afterwards.
class CVolumeControl
{
public:
    static constexpr unsigned kDevices = 5;

    // The loudspeaker volume control of one card.
    struct MasterControl
    {
        bool found = false;
        QString element; // "Master", "Speaker" or "PCM"
        unsigned channels = 0;
        long minimum = 0; // raw range
        long maximum = 0;
        std::uint16_t value = 0; // current value on the user scale
    };

    CVolumeControl() = default;

    // Finds the master control of every card, then reads the volume of the first card that
    // gives one into volume. Returns false, leaving volume as it was, when no card has a
    // readable master control. Mixer errors while searching are posted as error events.
    bool Init(std::uint16_t scaleMaximum, std::uint16_t& volume);
    // Writes value (on the user scale, cut to its maximum) to the master control of every
    // card that has one. Write errors are not reported.
    void SetVolume(std::uint16_t value);

    // Cards among 0 to 4 that have a control device.
    unsigned DeviceCount() const { return m_deviceCount; }
    // The card whose volume Init read, or -1.
    int SelectedDevice() const { return m_selected; }
    const MasterControl& Control(unsigned device) const { return m_controls.at(device); }

    // Raw value <-> user scale (raw counted from the control's minimum).
    static std::uint16_t ToScale(long raw, const MasterControl& control,
                                 std::uint16_t scaleMaximum);
    static long FromScale(std::uint16_t value, const MasterControl& control,
                          std::uint16_t scaleMaximum);

private:
    void FindMasterControl(unsigned device);

    std::uint16_t m_scaleMaximum = 0;
    unsigned m_deviceCount = 0;
    std::array<MasterControl, kDevices> m_controls{};
    int m_selected = -1;
};

// The volume scale of the Voice dialog and its steps.
constexpr std::uint16_t kVolumeScale = 100;

// The Voice dialog's volume step: re-reads the master volume, moves it by delta within 0 to
// 100 and writes it to every card. Returns the new volume, or nothing (and writes nothing)
// when no card has a readable master control. The caller plays the chime.
std::optional<std::uint16_t> StepMasterVolume(int delta);
// Plays the chime, Ding.wav of the resource folder, to its end. Returns false when the file
// is missing or cannot be played, or another sound of the program is still playing.
bool PlayChime();
// Full path of the chime file.
QString ChimePath();
