// The frame's handling of the User... command and the recipient list dialog.
#include "app/GatewayApp.h"
#include "app/MainFrame.h"
#include "recipients/DlgUserList.h"
#include "settings/SettingsDoc.h"

void CMainFrame::OnUsers()
{
    OpenUserList(this);
}

void CMainFrame::OpenUserList(QWidget* parent)
{
    CGatewayApp* app = CGatewayApp::Instance();
    if (app == nullptr) {
        return;
    }
    if (m_userList == nullptr) {
        m_userList = new CDlgUserList(
            app->Users(), [this] { m_doc.SetModifiedMark(true); }, this);
    }
    if (m_userList->isVisible()) {
        m_userList->activateWindow();
        return;
    }
    // Over the dialog whose "..." opened it, and back to the frame afterwards.
    QWidget* owner = parent != nullptr ? parent : this;
    if (owner != this) {
        m_userList->setParent(owner, m_userList->windowFlags());
    }
    m_userList->exec();
    if (owner != this) {
        m_userList->setParent(this, m_userList->windowFlags());
    }
}
