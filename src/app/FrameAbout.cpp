// The About command.
#include "app/AboutDlg.h"
#include "app/MainFrame.h"

void CMainFrame::ShowAbout()
{
    CAboutDlg dlg(this);
    dlg.exec();
}
