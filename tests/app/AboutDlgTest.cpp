#include <gtest/gtest.h>

#include <mutex>
#include <semaphore>

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QUrl>

#include "app/AboutDlg.h"
#include "app/StaticLink.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

// The desktop's handler of the "zunaro-test" scheme: records what it is asked to open, on the
// opening thread, and holds that thread until it is let go when told to.
class UrlHandler : public QObject
{
    Q_OBJECT

public:
    UrlHandler() { QDesktopServices::setUrlHandler(u"zunaro-test"_qs, this, "Open"); }
    ~UrlHandler() override { QDesktopServices::unsetUrlHandler(u"zunaro-test"_qs); }
    QStringList Opened()
    {
        std::lock_guard guard(m_lock);
        return m_opened;
    }
    bool hold = false;
    std::binary_semaphore entered{0}, release{0};

public slots:
    void Open(const QUrl& url)
    {
        {
            std::lock_guard guard(m_lock);
            m_opened << url.toString();
        }
        if (hold) {
            entered.release();
            release.acquire();
        }
    }

private:
    std::mutex m_lock;
    QStringList m_opened;
};

namespace {

TEST(AboutDlg, TitleBuildLineAndLink)
{
    CAboutDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), u"About Zunaro"_qs);
    const QString build = dlg.findChild<QLabel*>(u"build"_qs)->text();
    EXPECT_TRUE(QRegularExpression(u"^Build: [A-Z][a-z]{2} [1-9][0-9]? 20[0-9]{2}\\(Unicode\\)$"_qs)
                    .match(build)
                    .hasMatch())
        << build.toStdString();
    for (const auto& [compiler, shown] :
         {std::pair{"Mar 25 2016", "Mar 25 2016"}, std::pair{"Mar  5 2016", "Mar 5 2016"}}) {
        EXPECT_EQ(CAboutDlg::NormaliseDate(compiler), QLatin1String(shown));
    }
    EXPECT_EQ(dlg.Link()->Link(), LoadString(kIdsHomePage));
    EXPECT_EQ(dlg.Link()->palette().color(QPalette::WindowText), CStaticLink::kUnvisitedColour);
    if (qEnvironmentVariableIsSet("ZUNARO_SCREENSHOTS")) {
        dlg.show();
        EXPECT_TRUE(dlg.grab().save(qEnvironmentVariable("ZUNARO_SCREENSHOTS") + u"/About.png"_qs));
    }
}

// What a click opens, and what the link looks like afterwards: an address nothing can open
// fails (with the beep) and stays unvisited; an empty address opens the caption.
TEST(AboutDlg, LinkClick_OpensOffTheUiThread)
{
    const struct
    {
        const char* caption;
        const char* link;
        bool opened;
        QStringList handled;
    } cases[] = {
        {"Maker", "zunaro-nobody:page", false, {}},
        {"zunaro-test:caption", "", true, {u"zunaro-test:caption"_qs}},
        {"Maker", "zunaro-test:page", true, {u"zunaro-test:page"_qs}},
    };
    for (const auto& c : cases) {
        UrlHandler handler;
        CStaticLink link(QLatin1String(c.caption));
        link.SetLink(QLatin1String(c.link));
        QSignalSpy finished(&link, &CStaticLink::openFinished);
        QTest::mouseClick(&link, Qt::LeftButton);
        ASSERT_TRUE(finished.wait(5000)) << c.link;
        EXPECT_EQ(finished.front().front().toBool(), c.opened) << c.link;
        EXPECT_EQ(link.IsVisited(), c.opened);
        EXPECT_EQ(link.palette().color(QPalette::WindowText),
                  c.opened ? CStaticLink::kVisitedColour : CStaticLink::kUnvisitedColour);
        EXPECT_EQ(handler.Opened(), c.handled);
    }
}

// The box closes while the desktop is still opening its link: the late outcome touches
// nothing that is gone.
TEST(AboutDlg, LinkOutcomeAfterTheBoxClosed_IsDropped)
{
    UrlHandler handler;
    handler.hold = true;
    auto dlg = std::make_unique<CAboutDlg>();
    dlg->Link()->SetLink(u"zunaro-test:late"_qs);
    QTest::keyClick(dlg->Link(), Qt::Key_Space);
    handler.entered.acquire();
    dlg.reset();
    handler.release.release();
    QThreadPool::globalInstance()->waitForDone();
    QApplication::processEvents();
    EXPECT_EQ(handler.Opened(), QStringList{u"zunaro-test:late"_qs});
}

} // namespace

#include "AboutDlgTest.moc"
