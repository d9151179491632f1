// The About command.
#include <QCoreApplication>
#include <QMessageBox>

#include "app/MainFrame.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

void CMainFrame::ShowAbout()
{
    QMessageBox::about(this, LoadString(kIdsAboutBoxTitle),
                       QStringLiteral("<b>%1</b> %2<br><br>%3")
                           .arg(LoadString(kIdsAboutBoxTitle).toHtmlEscaped(),
                                QCoreApplication::applicationVersion().toHtmlEscaped(),
                                LoadString(kIdsAboutNotice).toHtmlEscaped()));
}
