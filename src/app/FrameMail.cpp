// The frame's handling of the E-Mail... command.
#include "app/GatewayApp.h"
#include "app/MainFrame.h"
#include "mail/DlgMail.h"
#include "settings/SettingsDoc.h"

void CMainFrame::OnMail()
{
    CGatewayApp* app = CGatewayApp::Instance();
    if (app == nullptr) {
        return;
    }
    MailDialogHost host;
    host.account = [app] { return MailAccount{app->MailSender(), app->MailPassword()}; };
    host.setAccount = [app](const QString& sender, const QString& password) {
        app->SetMailAccount(sender, password);
    };
    host.queueMail = [app](const QString& address, const QString& text, MailDone done) {
        app->QueueTestMail(address, text, std::move(done));
    };
    host.openUserList = [this](QWidget* parent) { OpenUserList(parent); };
    host.markModified = [this] { m_doc.SetModifiedMark(true); };
    CDlgMail dialog(std::move(host), this);
    dialog.exec();
}
