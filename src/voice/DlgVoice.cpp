#include "voice/DlgVoice.h"

#include <utility>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/DialogParts.h"
#include "platform/Logging.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "platform/Worker.h"
#include "voice/VolumeControl.h"

namespace {

constexpr std::uint16_t kVolumeScale = 100;

// The thread that plays the chime. Used on the user-interface thread only; joined at exit.
Worker& ChimeWorker()
{
    static Worker worker;
    return worker;
}

} // namespace

CDlgVoice::CDlgVoice(std::function<void(const QString&)> queueSpeech, QWidget* parent)
    : QDialog(parent), m_queueSpeech(std::move(queueSpeech))
{
    // Created in tab order: switch, text, Speech, V-, V+, OK, Cancel.
    m_enabled = new QCheckBox(LoadString(kIdsVoiceEnable), this);
    m_textLabel = new QLabel(LoadString(kIdsVoiceTextLabel), this);
    m_text = new QLineEdit(GetProfileString(kProfileVoiceText), this);
    m_text->setMinimumWidth(m_text->fontMetrics().averageCharWidth() * 32);
    m_textLabel->setBuddy(m_text);
    m_speech = new QPushButton(LoadString(kIdsVoiceSpeech), this);
    m_speech->setToolTip(LoadString(kIdsVoiceSpeechTip));
    m_down = new QPushButton(LoadString(kIdsVoiceDown), this);
    m_down->setToolTip(LoadString(kIdsVoiceDownTip));
    m_up = new QPushButton(LoadString(kIdsVoiceUp), this);
    m_up->setToolTip(LoadString(kIdsVoiceUpTip));
    m_noSoundCard = new QLabel(LoadString(kIdsVoiceNoSoundCard), this);
    m_noSoundCard->setWordWrap(true);
    // Names for the tests and for accessibility tools.
    m_enabled->setObjectName(QStringLiteral("enabled"));
    m_text->setObjectName(QStringLiteral("text"));
    m_speech->setObjectName(QStringLiteral("speech"));
    m_down->setObjectName(QStringLiteral("down"));
    m_up->setObjectName(QStringLiteral("up"));
    m_noSoundCard->setObjectName(QStringLiteral("noSoundCard"));
    QDialogButtonBox* buttons = OkCancelButtons(this);

    auto* volume = new QHBoxLayout;
    volume->addWidget(m_down);
    volume->addWidget(m_up);
    volume->addStretch();
    auto* grid = new QGridLayout(this);
    grid->addWidget(m_enabled, 0, 0, 1, 3);
    grid->addWidget(m_textLabel, 1, 0);
    grid->addWidget(m_text, 1, 1);
    grid->addWidget(m_speech, 1, 2);
    grid->addLayout(volume, 2, 1, 1, 2);
    grid->addWidget(m_noSoundCard, 3, 0, 1, 3);
    grid->addWidget(buttons, 4, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_enabled, &QCheckBox::toggled, this, &CDlgVoice::UpdateControls);
    connect(m_speech, &QPushButton::clicked, this, &CDlgVoice::Speak);
    connect(m_up, &QPushButton::clicked, this, [this] { StepVolume(+10); });
    connect(m_down, &QPushButton::clicked, this, [this] { StepVolume(-10); });

    ShowMixer(false);
    UpdateTitle();
}

void CDlgVoice::SetVoiceEnabled(bool on)
{
    m_enabled->setChecked(on);
    UpdateControls();
}

bool CDlgVoice::VoiceEnabled() const
{
    return m_enabled->isChecked();
}

void CDlgVoice::SetVolume(std::uint16_t volume, bool hasMixer)
{
    m_volume = volume;
    ShowMixer(hasMixer);
    UpdateTitle();
}

QString CDlgVoice::Text() const
{
    return m_text->text();
}

void CDlgVoice::StepVolume(int delta)
{
    // The mixer calls are short ALSA requests; only the chime, which lasts as long as the
    // sound, leaves the user-interface thread.
    const std::optional<std::uint16_t> stepped = StepMasterVolume(delta);
    if (!stepped) {
        qCDebug(lcVoice) << "no master volume to step";
        ShowMixer(false);
        return;
    }
    m_volume = *stepped;
    UpdateTitle();
    StartChime();
}

void CDlgVoice::StartChime()
{
    // A chime still playing is not interrupted (the steps go on meanwhile), so a thread that
    // is joined here has always ended: the user-interface thread never waits for the sound.
    if (ChimePlaying()) {
        return;
    }
    ChimeWorker().Join();
    ChimeWorker().Start([] { PlayChime(); });
}

bool CDlgVoice::ChimePlaying()
{
    return ChimeWorker().IsStarted() && !ChimeWorker().IsFinished();
}

void CDlgVoice::Speak()
{
    const QString text = m_text->text();
    WriteProfileString(kProfileVoiceText, text);
    if (m_queueSpeech) {
        m_queueSpeech(text);
    }
}

void CDlgVoice::UpdateControls()
{
    const bool on = m_enabled->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(m_text), static_cast<QWidget*>(m_speech)}) {
        w->setEnabled(on);
    }
    m_up->setEnabled(on && m_hasMixer);
    m_down->setEnabled(on && m_hasMixer);
}

void CDlgVoice::UpdateTitle()
{
    setWindowTitle(FormatText(LoadString(kIdsVoiceTitle), {QString::number(m_volume)}));
}

void CDlgVoice::ShowMixer(bool hasMixer)
{
    m_hasMixer = hasMixer;
    m_noSoundCard->setVisible(!hasMixer);
    UpdateControls();
}
