// The frame's handling of the User... command and the recipient list dialog.
#include "app/MainFrame.h"

void CMainFrame::OnUsers()
{
    OpenUserList(this);
}

void CMainFrame::OpenUserList(QWidget* /*parent*/) {}
