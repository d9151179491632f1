#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "VoiceTestSupport.h"
#include "platform/Profile.h"
#include "support/QtPrinters.h"
#include "voice/DlgVoice.h"
#include "voice/VolumeControl.h"

namespace {

// One sound card at volume 92 (raw 60000 of 65535), a chime, a PCM capturing what is played.
class DlgVoiceTest : public SoundCardTest
{
protected:
    void SetUp() override
    {
        SoundCardTest::SetUp();
        WriteBytes(ChimePath(), Wav(m_chime, 8000, 1));
        UseCards(1);
        SetRaw("60000 60000");
    }
    // The chime plays on a thread; ALSA's configuration changes only while none runs.
    void TearDown() override { WaitForChime(); }
    static void WaitForChime()
    {
        ASSERT_TRUE(WaitUntil([] { return !CDlgVoice::ChimePlaying(); }));
    }

    // The dialog as the frame opens it: the switch, and the volume read just before.
    std::unique_ptr<CDlgVoice> Open(bool on, std::function<void(const QString&)> queue = {})
    {
        std::uint16_t volume = 0;
        const bool hasMixer = CVolumeControl().Init(100, volume);
        auto dlg = std::make_unique<CDlgVoice>(std::move(queue));
        dlg->SetVoiceEnabled(on);
        dlg->SetVolume(volume, hasMixer);
        dlg->show();
        return dlg;
    }
    // Enabled: text, Speech, V-, V+; then whether the no-sound-card line shows ("11110").
    static QString States(QWidget* dlg)
    {
        QString s;
        for (const char* name : {"text", "speech", "down", "up"}) {
            s += dlg->findChild<QWidget*>(QLatin1String(name))->isEnabled() ? u'1' : u'0';
        }
        return s + (dlg->findChild<QWidget*>(u"noSoundCard"_qs)->isVisible() ? u'1' : u'0');
    }
    // Clicks a button or the check box (on its indicator).
    static void Click(QWidget* dlg, const char* name)
    {
        auto* w = dlg->findChild<QWidget*>(QLatin1String(name));
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(w->height() / 2, w->height() / 2));
    }

    const QByteArray m_chime = QByteArray(16000, '\x11'); // 1 s
};

TEST_F(DlgVoiceTest, Controls_FollowTheSwitch_VolumeButtonsNeedASoundCard)
{
    using Case = std::tuple<int, bool, const char*, const char*, const char*>;
    for (const auto& [cards, on, title, before, afterClick] : {
             Case{1, false, "Voice[Volume:92]", "00000", "11110"},
             Case{1, true, "Voice[Volume:92]", "11110", "00000"},
             Case{0, true, "Voice[Volume:0]", "11001", "00001"}, // opens all the same, says so
         }) {
        UseCards(cards);
        auto dlg = Open(on);
        EXPECT_EQ(dlg->windowTitle(), QLatin1String(title));
        EXPECT_EQ(States(dlg.get()), QLatin1String(before)) << cards << on;
        if (on && cards && qEnvironmentVariableIsSet("ZUNARO_SCREENSHOTS")) {
            EXPECT_TRUE(
                dlg->grab().save(qEnvironmentVariable("ZUNARO_SCREENSHOTS") + u"/DlgVoice.png"_qs));
        }
        Click(dlg.get(), "enabled");
        EXPECT_EQ(States(dlg.get()), QLatin1String(afterClick)) << cards << on;
        EXPECT_EQ(dlg->VoiceEnabled(), !on);
    }
}

// Each step writes every channel at once and chimes without waiting for the sound; Escape
// keeps the volume. A card gone since the dialog opened stops the steps and is shown.
TEST_F(DlgVoiceTest, Step_WritesAtOnceChimesAndSurvivesCancel)
{
    UseAlsa(DevicePcm(100, m_capture), 1, m_state); // plays in real time
    auto dlg = Open(true);
    using Case = std::tuple<const char*, const char*, const char*>; // button, title, raw
    for (const auto& [button, title, raw] : {Case{"down", "Voice[Volume:82]", "53738 53738"},
                                             Case{"up", "Voice[Volume:92]", "60292 60292"},
                                             Case{"up", "Voice[Volume:100]", "65535 65535"}}) {
        Click(dlg.get(), button);
        EXPECT_EQ(dlg->windowTitle(), QLatin1String(title));
        EXPECT_EQ(Raw(), QLatin1String(raw));
        EXPECT_TRUE(CDlgVoice::ChimePlaying());
    }
    WaitForChime(); // one chime: the others found it playing
    EXPECT_TRUE(ReadBytes(m_capture) == m_chime);
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_EQ(Raw(), u"65535 65535"_qs);

    dlg = Open(true);
    UseCards(0);
    Click(dlg.get(), "down"); // the card is gone: no step, no chime
    EXPECT_EQ(dlg->windowTitle(), u"Voice[Volume:100]"_qs);
    EXPECT_EQ(States(dlg.get()), u"11001"_qs);
}

// Speech queues the typed text even with the switch off and keeps it; Enter means OK.
TEST_F(DlgVoiceTest, Speech_StoresTheTextAndQueuesIt)
{
    QStringList queued;
    auto dlg = Open(false, [&](const QString& text) { queued << text; });
    Click(dlg.get(), "enabled");
    dlg->findChild<QLineEdit*>()->clear();
    QTest::keyClicks(dlg->findChild<QLineEdit*>(), u"Boiler 3 pressure high"_qs);
    Click(dlg.get(), "speech");
    EXPECT_EQ(queued, QStringList{u"Boiler 3 pressure high"_qs});
    EXPECT_EQ(GetProfileString(u"Voice"_qs, u"Text"_qs), u"Boiler 3 pressure high"_qs);
    QTest::keyClick(dlg->findChild<QLineEdit*>(), Qt::Key_Return);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(Open(false)->Text(), u"Boiler 3 pressure high"_qs);
}

} // namespace
