// The frame's handling of the GPRS Modem... command.
#include "app/MainFrame.h"

void CMainFrame::OnModem() {}
