#include <future>
#include <tuple>

#include <gtest/gtest.h>

#include <QFileInfo>

#include "VoiceTestSupport.h"
#include "platform/SoundFile.h"
#include "support/QtPrinters.h"
#include "voice/VolumeControl.h"

namespace {

// Interleaved 16-bit samples of a soft saw tone.
QByteArray Tone(int frames, int channels)
{
    QByteArray samples;
    for (int i = 0; i < frames * channels; ++i) {
        const auto v = std::int16_t((i / channels * 37) % 4000 - 2000);
        samples.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
    }
    return samples;
}

class VolumeControlTest : public SoundCardTest
{
protected:
    EventCollector m_events;
};

// The volume is the loudspeaker line's first channel, (scale + 1) * raw / bound cut to the
// scale; a volume is written to every channel.
TEST_F(VolumeControlTest, Init_FindsTheLoudspeakerLineReadsItsFirstChannelAndWritesAll)
{
    const struct
    {
        int cards;
        const char* extra;
        const char* raw;
        bool found; // false: no usable line, the volume stays as it was
        int volume;
        const char* fifty; // raw after SetVolume(50)
    } cases[] = {
        {1, "", "60000 60000", true, 92, "32767 32767"},
        {1, "", "65535 0", true, 100, "32767 32767"},
        {1, "", "649 649", true, 1, "32767 32767"},
        {1, "element \"PCM\" min 10 max 97 channels 1", "53", true, 49, "53"}, // 101 * 43 / 87
        {1, "element \"Speaker\"", "65535 65535", true, 100, "32767 32767"},
        {1, "element \"Headphone\"", "65535 65535", false, 33, "65535 65535"},
        {1, "max 0", "0 0", false, 33, "0 0"}, // a line without a range
        {0, "", "", false, 33, ""},            // no control device at all
    };
    for (const auto& c : cases) {
        UseCards(c.cards, QLatin1String(c.extra));
        SetRaw(c.raw);
        CVolumeControl control;
        std::uint16_t volume = 33;
        EXPECT_EQ(control.Init(100, volume), c.found) << c.extra << c.raw;
        EXPECT_EQ(volume, c.volume) << c.extra << c.raw;
        control.SetVolume(50);
        EXPECT_EQ(Raw(), QLatin1String(c.fifty)) << c.extra << c.raw;
    }
    EXPECT_TRUE(Events(m_events).isEmpty());
}

TEST_F(VolumeControlTest, Step_MovesByTenWithinBoundsWritesEveryChannel_ChimePlays)
{
    UseCards(1);
    const QByteArray chime = Tone(800, 1);
    WriteBytes(ChimePath(), Wav(chime, 8000, 1));
    using Case = std::tuple<const char*, int, int, const char*>; // before, delta, result, after
    for (const auto& [before, delta, result, after] : {
             Case{"3277 3277", -10, 0, "0 0"},             // 5 - 10 stops at 0
             Case{"65535 65535", +10, 100, "65535 65535"}, // stays at the top, still chimes
         }) {
        SetRaw(before);
        QFile::remove(m_capture);
        EXPECT_EQ(StepMasterVolume(delta), result) << before << delta;
        EXPECT_EQ(Raw(), QLatin1String(after)) << before << delta;
        EXPECT_TRUE(PlayChime());
        EXPECT_TRUE(ReadBytes(m_capture) == chime) << before << delta;
    }
}

TEST_F(VolumeControlTest, SeveralCards_ErrorsReportedAndTheLookupGoesOn)
{
    // Card 0 cannot be loaded, card 1 has a switch but no volume, cards 2 and 3 work.
    UseCards(4, QStringLiteral("broken_card 0 switch_card 1"));
    SetRaw("32768 32768", 2);
    SetRaw("0 0", 3);
    CVolumeControl control;
    std::uint16_t volume = 0;
    ASSERT_TRUE(control.Init(100, volume));
    EXPECT_TRUE(control.SelectedDevice() == 2 && volume == 50);
    // The number is the error of the ALSA call that failed (EIO from the broken card).
    const QStringList errors{QStringLiteral("1 mixerOpen() Error = 5\n"),
                             QStringLiteral("1 mixerGetLineControls() Error = 22\n")};
    EXPECT_EQ(Events(m_events), errors);
    control.SetVolume(20);
    EXPECT_EQ(Raw(2), QStringLiteral("13107 13107"));
    EXPECT_EQ(Raw(3), QStringLiteral("13107 13107"));

    // No control device at all, and no chime: no step, nothing is played.
    UseCards(0);
    EXPECT_EQ(StepMasterVolume(+10), std::nullopt);
    WriteBytes(ChimePath() + QStringLiteral(".txt"), "RIFF this is not a sound");
    EXPECT_FALSE(PlaySoundFile(ChimePath() + QStringLiteral(".txt")));
    EXPECT_FALSE(QFile::exists(m_capture)); // the output was never opened
    EXPECT_EQ(Events(m_events), errors);
}

// A sound is never interrupted by another; a device lost or stalled mid-sound is reported.
TEST_F(VolumeControlTest, Sound_NeverInterrupted_LostOrStalledDeviceReported)
{
    const QByteArray first = Tone(22050, 2); // half a second of stereo
    const QString firstPath = m_state + QStringLiteral("-first.wav");
    WriteBytes(firstPath, Wav(first, 44100, 2));
    WriteBytes(ChimePath(), Wav(Tone(100, 1), 8000, 1));
    using Case = std::tuple<int, const char*, const char*>; // speed, extra, error (none: played)
    for (const auto& [speed, extra, error] : {
             Case{100, "", ""},
             Case{100, "fail_after 16000", "audio playback failed: No such device"},
             Case{0, "", "audio playback failed: the device stalled"},
         }) {
        QFile::remove(m_capture);
        UseAlsa(DevicePcm(speed, m_capture, QLatin1String(extra)));
        QString reported;
        auto playing =
            std::async(std::launch::async, [&] { return PlaySoundFile(firstPath, &reported); });
        ASSERT_TRUE(WaitUntil([&] { return QFileInfo(m_capture).size() > 0; })) << extra;
        EXPECT_FALSE(PlayChime());
        EXPECT_EQ(playing.get(), !*error) << extra;
        EXPECT_EQ(reported, QLatin1String(error));
        EXPECT_TRUE(*error || ReadBytes(m_capture) == first) << extra;
    }
}

TEST_F(VolumeControlTest, ShippedDing_IsAShortCleanSound)
{
    const QString ding = QFileInfo(qEnvironmentVariable("ZUNARO_BINARY")).absolutePath() +
                         QStringLiteral("/Ding.wav");
    ASSERT_TRUE(QFile::copy(ding, ChimePath())) << qPrintable(ding);
    UseCards(0);
    ASSERT_TRUE(PlayChime());
    const QByteArray raw = ReadBytes(m_capture);
    EXPECT_TRUE(raw.size() / 2 > 44100 / 5 && raw.size() / 2 < 44100 * 2) << raw.size();
    EXPECT_TRUE(Peak(raw) > 5000 && Peak(raw) < 32767) << Peak(raw); // audible, not clipped
    EXPECT_LT(std::max(Peak(raw.left(8)), Peak(raw.right(8))), 500); // no click at either end
}

} // namespace
