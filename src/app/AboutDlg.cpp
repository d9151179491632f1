#include "app/AboutDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "app/AppIcons.h"
#include "app/StaticLink.h"
#include "platform/DialogParts.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(LoadString(kIdsAbout) + QLatin1Char(' ') + LoadString(kIdsAppTitle));

    auto* icon = new QLabel(this);
    const int side = style()->pixelMetric(QStyle::PM_LargeIconSize);
    icon->setPixmap(AppIcon("zunaro", QStyle::SP_ComputerIcon).pixmap(side, side));
    auto* name = new QLabel(LoadString(kIdsAboutTitle), this);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    auto* build = new QLabel(FormatText(LoadString(kIdsAboutBuild), {BuildDate()}), this);
    build->setObjectName(QStringLiteral("build"));
    auto* notice = new QLabel(LoadString(kIdsAboutNotice), this);
    notice->setWordWrap(true);
    m_link = new CStaticLink(LoadString(kIdsAboutMaker), this);
    m_link->SetLink(LoadString(kIdsHomePage));
    m_link->setToolTip(FormatText(LoadString(kIdsAboutLinkTip), {m_link->Link()}));
    QDialogButtonBox* buttons = OkCancelButtons(this, false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 4, 1, Qt::AlignTop);
    grid->addWidget(name, 0, 1);
    grid->addWidget(build, 1, 1);
    grid->addWidget(notice, 2, 1);
    grid->addWidget(m_link, 3, 1, Qt::AlignLeft);
    grid->addWidget(buttons, 4, 0, 1, 2);
    grid->setColumnMinimumWidth(1, fontMetrics().averageCharWidth() * 60);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    buttons->findChild<QPushButton*>(QStringLiteral("ok"))->setFocus();
}

QString CAboutDlg::BuildDate()
{
    return NormaliseDate(__DATE__);
}

QString CAboutDlg::NormaliseDate(const char* compilerDate)
{
    return QString::fromLatin1(compilerDate).simplified();
}
