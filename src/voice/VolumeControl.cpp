#include "voice/VolumeControl.h"

#include <algorithm>
#include <vector>

#include "eventlog/EventSink.h"
#include "platform/Folders.h"
#include "platform/Logging.h"
#include "platform/Mixer.h"
#include "platform/SoundFile.h"
#include "platform/StringTable.h"

namespace {

void PostMixerError(const char* pattern, int code)
{
    // The debug line is also the event text, line break included.
    const QString text = FormatText(QLatin1String(pattern), {QString::number(code)});
    qCDebug(lcVoice) << text;
    EventSink(EventType::Error, text);
}

} // namespace

std::uint16_t CVolumeControl::ToScale(long raw, const MasterControl& control,
                                      std::uint16_t scaleMaximum)
{
    const long long bound = static_cast<long long>(control.maximum) - control.minimum;
    const long long offset =
        std::clamp<long long>(static_cast<long long>(raw) - control.minimum, 0, bound);
    if (bound <= 0) {
        return 0;
    }
    const long long value = (static_cast<long long>(scaleMaximum) + 1) * offset / bound;
    return static_cast<std::uint16_t>(std::min<long long>(value, scaleMaximum));
}

long CVolumeControl::FromScale(std::uint16_t value, const MasterControl& control,
                               std::uint16_t scaleMaximum)
{
    const long long bound = static_cast<long long>(control.maximum) - control.minimum;
    if (scaleMaximum == 0 || bound <= 0) {
        return control.minimum;
    }
    const long long v = std::min(value, scaleMaximum);
    return static_cast<long>(control.minimum + v * bound / scaleMaximum);
}

void CVolumeControl::FindMasterControl(unsigned device)
{
    Mixer mixer;
    if (const int err = mixer.Open(device)) {
        PostMixerError("mixerOpen() Error = %d\n", err);
        return;
    }
    QString element;
    if (!mixer.FindSpeakerLine(element)) {
        return;
    }
    Mixer::VolumeControl volume;
    if (const int err = mixer.GetVolumeControl(element, volume)) {
        PostMixerError("mixerGetLineControls() Error = %d\n", err);
        return;
    }
    if (volume.maximum <= volume.minimum) {
        // A control without a range cannot be scaled; it counts as not found.
        qCDebug(lcVoice) << "card" << device << element << "has no volume range";
        return;
    }
    MasterControl& control = m_controls[device];
    control.found = true;
    control.element = element;
    control.channels = volume.channels;
    control.minimum = volume.minimum;
    control.maximum = volume.maximum;
}

bool CVolumeControl::Init(std::uint16_t scaleMaximum, std::uint16_t& volume)
{
    m_scaleMaximum = scaleMaximum;
    m_deviceCount = 0;
    m_controls = {};
    m_selected = -1;
    for (unsigned device = 0; device < kDevices; ++device) {
        if (Mixer::CardExists(device)) {
            ++m_deviceCount;
            FindMasterControl(device);
        }
    }
    for (unsigned device = 0; device < kDevices; ++device) {
        MasterControl& control = m_controls[device];
        if (!control.found) {
            continue;
        }
        Mixer mixer;
        std::vector<long> values;
        if (mixer.Open(device) != 0 ||
            !mixer.GetValues({control.element, control.channels, control.minimum, control.maximum},
                             values)) {
            continue;
        }
        control.value = ToScale(values.front(), control, scaleMaximum);
        m_selected = static_cast<int>(device);
        volume = control.value;
        return true;
    }
    return false;
}

void CVolumeControl::SetVolume(std::uint16_t value)
{
    value = std::min(value, m_scaleMaximum);
    for (unsigned device = 0; device < kDevices; ++device) {
        MasterControl& control = m_controls[device];
        if (!control.found) {
            continue;
        }
        control.value = value;
        Mixer mixer;
        if (mixer.Open(device) == 0) {
            mixer.SetValues({control.element, control.channels, control.minimum, control.maximum},
                            FromScale(value, control, m_scaleMaximum));
        }
    }
}

std::optional<std::uint16_t> StepMasterVolume(int delta)
{
    CVolumeControl control;
    std::uint16_t volume = 0;
    if (!control.Init(kVolumeScale, volume)) {
        return std::nullopt;
    }
    const auto stepped =
        static_cast<std::uint16_t>(std::clamp(volume + delta, 0, int(kVolumeScale)));
    control.SetVolume(stepped);
    return stepped;
}

QString ChimePath()
{
    return ResourceFolder() + QStringLiteral("/Ding.wav");
}

bool PlayChime()
{
    return PlaySoundFile(ChimePath());
}
