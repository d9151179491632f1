// The frame's handling of the Voice... command.
#include <cstdint>

#include <QGuiApplication>

#include "app/GatewayApp.h"
#include "app/MainFrame.h"
#include "settings/SettingsDoc.h"
#include "voice/DlgVoice.h"
#include "voice/VolumeControl.h"

void CMainFrame::OnVoice()
{
    CGatewayApp* app = CGatewayApp::Instance();
    if (!app) {
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    CVolumeControl mixer;
    std::uint16_t volume = 0;
    const bool hasMixer = mixer.Init(kVolumeScale, volume);
    CDlgVoice dlg([app](const QString& text) { app->QueueSpeech(text); }, this);
    dlg.SetVoiceEnabled(app->VoiceEnabled());
    dlg.SetVolume(volume, hasMixer);
    QGuiApplication::restoreOverrideCursor();
    // Volume steps have taken effect already; only the switch waits for OK.
    if (dlg.exec() == QDialog::Accepted && dlg.VoiceEnabled() != app->VoiceEnabled()) {
        app->SetVoiceEnabled(dlg.VoiceEnabled());
        m_doc.SetModifiedMark(true);
    }
}
