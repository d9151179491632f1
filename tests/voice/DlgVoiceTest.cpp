#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThreadPool>

#include "VoiceTestSupport.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "support/QtPrinters.h"
#include "voice/DlgVoice.h"
#include "voice/VoiceQueue.h"
#include "voice/VolumeControl.h"

namespace {

// One sound card with a "Master" volume (raw 0..65535 on two channels), the chime in the
// resource folder and a default PCM that captures what is played.
class DlgVoiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_state = TestHome() + QStringLiteral("/voice-dlg-%1").arg(++m_serial);
        m_capture = m_state + QStringLiteral(".raw");
        QDir().mkpath(m_state + QStringLiteral("-res"));
        qputenv("ZUNARO_RESOURCES", QFile::encodeName(m_state + QStringLiteral("-res")));
        WriteBytes(ChimePath(), Wav(m_chime, 8000, 1));
        UseCards(1);
        WriteBytes(m_state + QStringLiteral(".0"), "60000 60000"); // 92 on the user scale
    }
    // The chime plays on a pool thread; ALSA's configuration changes only while none runs.
    void TearDown() override { QThreadPool::globalInstance()->waitForDone(); }
    void UseCards(int cards) { UseAlsa(FilePcm(m_capture), cards, m_state); }
    QString Raw() const { return ReadBytes(m_state + QStringLiteral(".0")).trimmed(); }

    // The dialog as the frame opens it: the switch, and the volume read just before.
    std::unique_ptr<CDlgVoice> Open(bool voiceEnabled, std::function<void(const QString&)> queue)
    {
        CVolumeControl mixer;
        std::uint16_t volume = 0;
        const bool hasMixer = mixer.Init(100, volume);
        auto dlg = std::make_unique<CDlgVoice>(std::move(queue));
        dlg->SetVoiceEnabled(voiceEnabled);
        dlg->SetVolume(volume, hasMixer);
        dlg->show();
        return dlg;
    }
    // Clicks the check box on its indicator.
    static void Tick(QWidget* dlg)
    {
        auto* box = dlg->findChild<QCheckBox*>();
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->height() / 2, box->height() / 2));
    }
    static QPushButton* Button(QWidget* dlg, unsigned id)
    {
        for (QPushButton* b : dlg->findChildren<QPushButton*>()) {
            if (b->text() == LoadString(id)) {
                return b;
            }
        }
        return nullptr;
    }
    // Enabled state of text, Speech, V+ and V-, as "1111".
    static QString Controls(QWidget* dlg)
    {
        QString s = dlg->findChild<QLineEdit*>()->isEnabled() ? u"1"_qs : u"0"_qs;
        for (unsigned id : {kIdsVoiceSpeech, kIdsVoiceUp, kIdsVoiceDown}) {
            s += Button(dlg, id)->isEnabled() ? u'1' : u'0';
        }
        return s;
    }

    QString m_state;
    QString m_capture;
    const QByteArray m_chime = QByteArray(1600, '\x11');
    static inline int m_serial = 0;
};

TEST_F(DlgVoiceTest, Controls_FollowTheSwitch_VolumeButtonsNeedASoundCard)
{
    const struct
    {
        int cards;
        bool enabled;
        const char* title;
        const char* before; // text, Speech, V+, V-
        const char* after;  // once the box was clicked
        bool noCardShown;
    } cases[] = {
        {1, false, "Voice[Volume:92]", "0000", "1111", false},
        {1, true, "Voice[Volume:92]", "1111", "0000", false},
        {0, true, "Voice[Volume:0]", "1100", "0000", true}, // opens all the same, and says so
    };
    for (const auto& c : cases) {
        UseCards(c.cards);
        auto dlg = Open(c.enabled, {});
        EXPECT_EQ(dlg->windowTitle(), QLatin1String(c.title));
        EXPECT_EQ(Controls(dlg.get()), QLatin1String(c.before)) << c.title << c.enabled;
        const auto labels = dlg->findChildren<QLabel*>();
        EXPECT_EQ(std::count_if(labels.begin(), labels.end(),
                                [](QLabel* l) {
                                    return l->isVisible() &&
                                           l->text() == LoadString(kIdsVoiceNoSoundCard);
                                }),
                  c.noCardShown ? 1 : 0);
        if (c.enabled && c.cards == 1 && qEnvironmentVariableIsSet("ZUNARO_SCREENSHOTS")) {
            EXPECT_TRUE(dlg->grab().save(qEnvironmentVariable("ZUNARO_SCREENSHOTS") +
                                         QStringLiteral("/DlgVoice.png")));
        }
        Tick(dlg.get());
        EXPECT_EQ(Controls(dlg.get()), QLatin1String(c.after)) << c.title << c.enabled;
        EXPECT_EQ(dlg->VoiceEnabled(), !c.enabled);
    }
}

// Each step re-reads the card, writes the new volume to every channel at once and chimes;
// Cancel (Escape) afterwards keeps it. A card gone since the dialog opened stops the steps.
TEST_F(DlgVoiceTest, Step_WritesAtOnceChimesAndSurvivesCancel)
{
    auto dlg = Open(true, {});
    QTest::mouseClick(Button(dlg.get(), kIdsVoiceDown), Qt::LeftButton);
    EXPECT_EQ(dlg->windowTitle(), u"Voice[Volume:82]"_qs);
    EXPECT_EQ(Raw(), u"53738 53738"_qs);
    QTest::mouseClick(Button(dlg.get(), kIdsVoiceUp), Qt::LeftButton);
    QTest::mouseClick(Button(dlg.get(), kIdsVoiceUp), Qt::LeftButton); // 82 + 20 is cut to 100
    EXPECT_EQ(dlg->windowTitle(), u"Voice[Volume:100]"_qs);
    EXPECT_EQ(Raw(), u"65535 65535"_qs);
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_TRUE(ReadBytes(m_capture) == m_chime);
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_EQ(Raw(), u"65535 65535"_qs);

    dlg = Open(true, {});
    UseCards(0);
    QFile::remove(m_capture);
    QTest::mouseClick(Button(dlg.get(), kIdsVoiceDown), Qt::LeftButton);
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(dlg->windowTitle(), u"Voice[Volume:100]"_qs);
    EXPECT_EQ(Controls(dlg.get()), u"1100"_qs);
    EXPECT_FALSE(QFile::exists(m_capture));
    EXPECT_EQ(Raw(), u"65535 65535"_qs);
}

// Speech queues the typed text on the real speech queue, even with the saved switch off, and
// keeps it as the next dialog's text; Enter then closes with OK.
TEST_F(DlgVoiceTest, Speech_StoresTheTextAndQueuesIt)
{
    VoiceLog log;
    CVoiceQueue queue;
    queue.StartWorker();
    auto dlg = Open(false, [&](const QString& text) { queue.QueueSpeech(text); });
    EXPECT_EQ(dlg->Text(), u"This is Test Voice"_qs);
    Tick(dlg.get());
    dlg->findChild<QLineEdit*>()->clear();
    QTest::keyClicks(dlg->findChild<QLineEdit*>(), u"Boiler 3 pressure high"_qs);
    QTest::mouseClick(Button(dlg.get(), kIdsVoiceSpeech), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return !log.Spoken().isEmpty(); }, 20000));
    queue.StopWorker();
    EXPECT_EQ(log.Spoken(), QStringList{u"Boiler 3 pressure high"_qs});
    EXPECT_EQ(GetProfileString(u"Voice"_qs, u"Text"_qs), u"Boiler 3 pressure high"_qs);
    QTest::keyClick(dlg->findChild<QLineEdit*>(), Qt::Key_Return);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(Open(false, {})->Text(), u"Boiler 3 pressure high"_qs);
}

} // namespace
