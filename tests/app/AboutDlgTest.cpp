#include <gtest/gtest.h>

#include <tuple>

#include <QDesktopServices>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include "app/AboutDlg.h"
#include "app/StaticLink.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "support/QtPrinters.h"

// The desktop's handler of "zunaro-test:" addresses (called on the opening thread).
class UrlHandler : public QObject
{
    Q_OBJECT

public:
    UrlHandler() { QDesktopServices::setUrlHandler(u"zunaro-test"_qs, this, "Open"); }
    ~UrlHandler() override { QDesktopServices::unsetUrlHandler(u"zunaro-test"_qs); }
    Q_INVOKABLE void Open(const QUrl& url) { opened << url.toString(); }
    QStringList opened;
};

namespace {

TEST(AboutDlg, TitleAndBuildLine)
{
    CAboutDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), u"About Zunaro"_qs);
    const QString build = dlg.findChild<QLabel*>(u"build"_qs)->text();
    EXPECT_TRUE(QRegularExpression(u"^Build: [A-Z][a-z]{2} [1-9][0-9]? 2[0-9]{3}\\(Unicode\\)$"_qs)
                    .match(build)
                    .hasMatch())
        << build.toStdString();
    EXPECT_EQ(CAboutDlg::NormaliseDate("Mar  5 2016"), u"Mar 5 2016"_qs);
    EXPECT_EQ(CAboutDlg::NormaliseDate("Mar 25 2016"), u"Mar 25 2016"_qs);
    EXPECT_EQ(dlg.Link()->Link(), LoadString(kIdsHomePage));
    if (const QString shots = qEnvironmentVariable("ZUNARO_SCREENSHOTS"); !shots.isEmpty()) {
        dlg.show();
        EXPECT_TRUE(dlg.grab().save(shots + u"/About.png"_qs));
    }
}

// An address nothing can open fails (with the beep) and stays unvisited; an empty address
// opens the caption; an opened link turns to the visited colour.
TEST(AboutDlg, LinkClick_OpensOffTheUiThread)
{
    using Case = std::tuple<const char*, const char*, const char*>; // caption, address, opened
    for (const auto& [caption, address, opened] :
         {Case{"Maker", "zunaro-nobody:page", nullptr},
          Case{"zunaro-test:caption", "", "zunaro-test:caption"},
          Case{"Maker", "zunaro-test:page", "zunaro-test:page"}}) {
        UrlHandler handler;
        CStaticLink link{QLatin1String(caption)};
        link.SetLink(QLatin1String(address));
        QSignalSpy finished(&link, &CStaticLink::openFinished);
        QTest::mouseClick(&link, Qt::LeftButton);
        ASSERT_TRUE(finished.wait(5000)) << address;
        EXPECT_EQ(finished.front().front().toBool(), opened != nullptr) << address;
        EXPECT_EQ(link.IsVisited(), opened != nullptr);
        EXPECT_EQ(link.palette().color(QPalette::WindowText),
                  opened ? CStaticLink::kVisitedColour : CStaticLink::kUnvisitedColour);
        EXPECT_EQ(handler.opened, opened ? QStringList{QLatin1String(opened)} : QStringList{});
    }
}

// The box closes before the outcome of its link's opening arrives: the outcome is dropped.
TEST(AboutDlg, LinkOutcomeAfterTheBoxClosed_IsDropped)
{
    UrlHandler handler;
    auto dlg = std::make_unique<CAboutDlg>();
    dlg->Link()->SetLink(u"zunaro-test:late"_qs);
    QTest::keyClick(dlg->Link(), Qt::Key_Space);
    dlg.reset(); // the outcome has not been taken yet: the control polls for it
    CStaticLink::WaitForOpenings();
    QTest::qWait(100); // long enough for anything still due to the link to arrive
    EXPECT_EQ(handler.opened, QStringList{u"zunaro-test:late"_qs});
}

} // namespace

#include "AboutDlgTest.moc"
