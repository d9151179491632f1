// The frame's handling of the GPRS Modem... command.
#include "app/GatewayApp.h"
#include "app/MainFrame.h"
#include "settings/SettingsDoc.h"
#include "sms/DlgModem.h"

void CMainFrame::OnModem()
{
    CGatewayApp* app = CGatewayApp::Instance();
    if (app == nullptr) {
        return;
    }
    ModemDialogHooks hooks;
    hooks.comPort = app->ComPort();
    // The dialog moves the driver itself; the settings only take the port.
    hooks.storeComPort = [app](int comPort) { app->SetSettingsComPort(comPort); };
    hooks.markModified = [this] { m_doc.SetModifiedMark(true); };
    hooks.openUserList = [this](QWidget* parent) { OpenUserList(parent); };
    CDlgModem dialog(app->Modem(), std::move(hooks), this);
    dialog.exec();
}
