// The frame's handling of the E-Mail... command.
#include "app/MainFrame.h"

void CMainFrame::OnMail() {}
