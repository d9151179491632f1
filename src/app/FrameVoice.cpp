// The frame's handling of the Voice... command.
#include "app/MainFrame.h"

void CMainFrame::OnVoice() {}
