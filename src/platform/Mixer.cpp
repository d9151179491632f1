#include "platform/Mixer.h"

#include <cerrno>
#include <cstdio>

#include <alsa/asoundlib.h>

#include "platform/AlsaLog.h"
#include "platform/Logging.h"

namespace {

const char* const kSpeakerElements[] = {"Master", "Speaker", "PCM"};

std::string CardName(unsigned card)
{
    char name[16];
    std::snprintf(name, sizeof name, "hw:%u", card);
    return name;
}

} // namespace

Mixer::~Mixer()
{
    Close();
}

bool Mixer::CardExists(unsigned card)
{
    if (card >= kMaxCards) {
        return false;
    }
    InstallAlsaErrorLog();
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, CardName(card).c_str(), 0) < 0) {
        return false;
    }
    snd_ctl_close(ctl);
    return true;
}

int Mixer::Open(unsigned card)
{
    InstallAlsaErrorLog();
    Close();
    snd_mixer_t* mixer = nullptr;
    int err = snd_mixer_open(&mixer, 0);
    if (err < 0) {
        return -err;
    }
    const std::string name = CardName(card);
    if ((err = snd_mixer_attach(mixer, name.c_str())) < 0 ||
        (err = snd_mixer_selem_register(mixer, nullptr, nullptr)) < 0 ||
        (err = snd_mixer_load(mixer)) < 0) {
        snd_mixer_close(mixer);
        return -err;
    }
    m_mixer = mixer;
    return 0;
}

snd_mixer_elem_t* Mixer::Find(const QString& element) const
{
    if (!m_mixer) {
        return nullptr;
    }
    snd_mixer_selem_id_t* id = nullptr;
    snd_mixer_selem_id_alloca(&id);
    snd_mixer_selem_id_set_index(id, 0);
    snd_mixer_selem_id_set_name(id, element.toUtf8().constData());
    return snd_mixer_find_selem(m_mixer, id);
}

bool Mixer::FindSpeakerLine(QString& element)
{
    for (const char* name : kSpeakerElements) {
        snd_mixer_elem_t* elem = Find(QLatin1String(name));
        if (elem && snd_mixer_selem_has_playback_volume(elem)) {
            element = QLatin1String(name);
            return true;
        }
    }
    for (const char* name : kSpeakerElements) {
        if (Find(QLatin1String(name))) {
            element = QLatin1String(name);
            return true;
        }
    }
    return false;
}

int Mixer::GetVolumeControl(const QString& element, VolumeControl& control)
{
    snd_mixer_elem_t* elem = Find(element);
    if (!elem) {
        return ENOENT;
    }
    if (!snd_mixer_selem_has_playback_volume(elem)) {
        return EINVAL;
    }
    long minimum = 0;
    long maximum = 0;
    const int err = snd_mixer_selem_get_playback_volume_range(elem, &minimum, &maximum);
    if (err < 0) {
        return -err;
    }
    unsigned channels = 0;
    if (snd_mixer_selem_is_playback_mono(elem)) {
        channels = 1;
    } else {
        for (int ch = SND_MIXER_SCHN_FRONT_LEFT; ch <= SND_MIXER_SCHN_LAST; ++ch) {
            if (snd_mixer_selem_has_playback_channel(
                    elem, static_cast<snd_mixer_selem_channel_id_t>(ch))) {
                ++channels;
            }
        }
    }
    control.element = element;
    control.channels = channels;
    control.minimum = minimum;
    control.maximum = maximum;
    return 0;
}

bool Mixer::GetValues(const VolumeControl& control, std::vector<long>& values)
{
    snd_mixer_elem_t* elem = Find(control.element);
    if (!elem) {
        return false;
    }
    values.clear();
    if (snd_mixer_selem_is_playback_mono(elem)) {
        long value = 0;
        if (snd_mixer_selem_get_playback_volume(elem, SND_MIXER_SCHN_MONO, &value) < 0) {
            return false;
        }
        values.push_back(value);
        return true;
    }
    for (int ch = SND_MIXER_SCHN_FRONT_LEFT; ch <= SND_MIXER_SCHN_LAST; ++ch) {
        const auto channel = static_cast<snd_mixer_selem_channel_id_t>(ch);
        if (!snd_mixer_selem_has_playback_channel(elem, channel)) {
            continue;
        }
        long value = 0;
        if (snd_mixer_selem_get_playback_volume(elem, channel, &value) < 0) {
            return false;
        }
        values.push_back(value);
    }
    return !values.empty();
}

bool Mixer::SetValues(const VolumeControl& control, long raw)
{
    snd_mixer_elem_t* elem = Find(control.element);
    return elem && snd_mixer_selem_set_playback_volume_all(elem, raw) >= 0;
}

void Mixer::Close()
{
    if (m_mixer) {
        snd_mixer_close(m_mixer);
        m_mixer = nullptr;
    }
}
