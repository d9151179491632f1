#include <gtest/gtest.h>

#include <csignal>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/GatewayApp.h"
#include "app/MainFrame.h"
#include "app/ProgramProcess.h"
#include "app/Windowed.h"
#include "eventlog/EventSink.h"
#include "eventlog/EventView.h"
#include "mail/MailTestSupport.h"
#include "settings/SettingsDoc.h"
#include "sms/ModemSim.h"

namespace {

// Clicks button on the next message box that opens (the quit confirmation, a prompt).
void AnswerNextMessageBox(QMessageBox::StandardButton button)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, button] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box && box->isVisible() && box->button(button)) {
                QTest::mouseClick(box->button(button), Qt::LeftButton);
                poll->deleteLater();
                return;
            }
        }
    });
    poll->start(10);
}

bool PumpUntil(const std::function<bool()>& cond, int timeoutMs = 10000)
{
    return WaitUntil(
        [&] {
            QApplication::processEvents();
            return cond();
        },
        timeoutMs);
}

// Waits until something accepts connections on port.
bool Listening(std::uint16_t port)
{
    return WaitUntil([&] {
        const SOCKET s = ConnectLoopback(port);
        if (s == INVALID_SOCKET) {
            return false;
        }
        closesocket(s);
        return true;
    });
}

// A scheduler of the test's own (tests/tools/private_cupsd.sh) on a free loopback port, with
// CUPS_SERVER pointed at it while it lives. With adminLogin, adding a queue is refused.
class PrivateCupsd
{
public:
    explicit PrivateCupsd(bool adminLogin) : m_port(FreePort())
    {
        QStringList args{qEnvironmentVariable("ZUNARO_TEST_TOOLS") + u"/private_cupsd.sh"_qs,
                         m_dir.path(), QString::number(m_port)};
        if (adminLogin) {
            args << u"admin-login"_qs;
        }
        m_cupsd.setProcessChannelMode(QProcess::ForwardedChannels);
        m_cupsd.start(u"/bin/sh"_qs, args);
        qputenv("CUPS_SERVER", QStringLiteral("127.0.0.1:%1").arg(m_port).toUtf8());
        qputenv("CUPS_SERVERROOT", m_dir.path().toUtf8());
        m_up = Listening(m_port);
    }
    ~PrivateCupsd()
    {
        m_cupsd.terminate();
        m_cupsd.waitForFinished(5000);
        qunsetenv("CUPS_SERVER");
        qunsetenv("CUPS_SERVERROOT");
    }
    bool up() const { return m_up; }

private:
    QTemporaryDir m_dir{QDir::tempPath() + u"/zunaro-cups-XXXXXX"_qs};
    std::uint16_t m_port;
    QProcess m_cupsd;
    bool m_up = false;
};

// Waits for the next message box, closes it and returns its text (empty when none opened).
QString TakeMessageBox(int timeoutMs = 60000)
{
    QMessageBox* box = nullptr;
    PumpUntil(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                box = qobject_cast<QMessageBox*>(w);
                if (box && box->isVisible()) {
                    return true;
                }
            }
            box = nullptr;
            return false;
        },
        timeoutMs);
    if (!box) {
        return QString();
    }
    const QString text = box->text();
    box->close();
    QApplication::processEvents();
    return text;
}

// A small window placed normally: each test starts from the same placement, and the pictures
// stay below the size at which Qt hands image work to its thread pool.
void SmallNormalWindow()
{
    for (const auto& [key, value] : {std::pair{"x", 10}, {"y", 10}, {"cx", 320}, {"cy", 240}}) {
        WriteProfileInt("Main Window", key, value);
    }
    WriteProfileInt("Main Window", "State", 0);
    DeleteProfileValue("Main Window", "Toolbar");
}

QStringList ShownTexts(CEventView* view)
{
    view->Flush();
    QStringList texts;
    for (const EventRecord& r : view->Model().Shown()) {
        texts << r.text;
    }
    return texts;
}

// The windowed program in this process, listening on a free port, no serial device.
class Windowed : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteProfileString("Ports", "COM1", "/nonexistent/zunaro-modem");
        SmallNormalWindow();
        port = FreePort();
        WriteProfileInt(kProfileListenerPort, port);
    }
    void TearDown() override { program.reset(); }

    CMainFrame* Launch(const QString& file = QString())
    {
        program = std::make_unique<CWindowed>();
        QObject::connect(program.get(), &CWindowed::finished, [this] { finished = true; });
        finished = false;
        program->Start(file);
        EXPECT_TRUE(Listening(port));
        return program->Frame();
    }

    std::uint16_t port = 0;
    std::unique_ptr<CWindowed> program;
    bool finished = false;
};

} // namespace

TEST_F(Windowed, Startup_ReportsTheSettingsChoiceAndListens)
{
    const QString data = qEnvironmentVariable("ZUNARO_HOME");
    const QString gone = TestHome() + u"/gone.znr"_qs;
    const QString site = data + u"/site.znr"_qs;
    struct Case
    {
        QString recent;
        bool siteFile;
        QString expected; // empty: no report line
    } const cases[] = {
        {QString(), false, QString()},
        {gone, false, u"Failed to load '"_qs + gone + u"'"_qs},
        {gone, true, u"Load '"_qs + site + u"' successfully!"_qs},
    };
    for (const Case& c : cases) {
        QFile::remove(site);
        if (c.siteFile) {
            WriteSettingsFile(site);
        }
        WriteProfileString(kProfileRecentFiles[0], c.recent);
        CMainFrame* frame = Launch();
        const QStringList texts = ShownTexts(frame->View());
        EXPECT_TRUE(texts.contains(u"Succeed to initialize Zunaro."_qs));
        EXPECT_EQ(texts.filter(u"load"_qs, Qt::CaseInsensitive),
                  c.expected.isEmpty() ? QStringList() : QStringList{c.expected})
            << c.recent.toStdString();
        program.reset();
    }
}

TEST_F(Windowed, CloseHidesAndKeepsListening_OnlyConfirmedTrayExitEnds)
{
    CMainFrame* frame = Launch();
    ASSERT_TRUE(frame->isVisible());
    frame->close();
    frame->Action(CMainFrame::CommandExit)->trigger();
    PumpUntil([&] { return frame->IsTucked(); });
    EXPECT_TRUE(frame->IsTucked());
    ASSERT_TRUE(SendJob(port, "after close\r\n"));
    EXPECT_TRUE(PumpUntil([&] { return ShownTexts(frame->View()).contains(u"after close"_qs); }));

    AnswerNextMessageBox(QMessageBox::No);
    frame->TrayExit();
    QApplication::processEvents();
    EXPECT_FALSE(finished);
    ASSERT_TRUE(SendJob(port, "after no\r\n"));
    EXPECT_TRUE(PumpUntil([&] { return ShownTexts(frame->View()).contains(u"after no"_qs); }));

    AnswerNextMessageBox(QMessageBox::Yes);
    frame->TrayExit();
    ASSERT_TRUE(PumpUntil([&] { return finished; }));
    EXPECT_EQ(ConnectLoopback(port), INVALID_SOCKET);
    // The run log was written at the end: the last alarm and the closing line are in it.
    EXPECT_TRUE(RunLogText().contains(u",after no\r\n"_qs));
    EXPECT_TRUE(RunLogText().contains(u"Quit Zunaro normally!"_qs));
    EXPECT_EQ(GetProfileInt("Main Window", "State", 0), -1); // left minimised
}

TEST_F(Windowed, ChangedSettings_AskedOnConfirmedExitButNotOnSignal)
{
    CMainFrame* frame = Launch();
    program->Doc().SetModifiedMark(true);
    EXPECT_EQ(frame->windowTitle(), u"Zunaro - "_qs + program->Doc().GetTitle());
    EXPECT_TRUE(frame->windowTitle().endsWith(u" *"_qs));
    EXPECT_TRUE(PumpUntil([&] { return frame->Action(CMainFrame::CommandSave)->isEnabled(); }));

    // Tray Exit, Yes, then Cancel at the save prompt: the program keeps running.
    AnswerNextMessageBox(QMessageBox::Yes);
    frame->TrayExit();
    AnswerNextMessageBox(QMessageBox::Cancel);
    PumpUntil([&] { return !frame->QuitConfirmed(); }, 3000);
    QApplication::processEvents();
    EXPECT_FALSE(finished);
    EXPECT_TRUE(SendJob(port, "still running\r\n"));

    // A termination signal ends it without asking.
    ::raise(SIGTERM);
    EXPECT_TRUE(PumpUntil([&] { return finished; }));
}

TEST_F(Windowed, StatusPane_ShowsTheAlarmCount)
{
    CMainFrame* frame = Launch();
    EXPECT_EQ(frame->SmsCountText(), u"SMS Count: 0"_qs);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(SendJob(port, QByteArray("alarm ") + QByteArray::number(i)));
    }
    EXPECT_TRUE(PumpUntil([&] { return frame->SmsCountText() == u"SMS Count: 5"_qs; }))
        << frame->SmsCountText().toStdString();
}

TEST_F(Windowed, Placement_RestoredAndBroughtBackOnScreen)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    struct Case
    {
        QRect stored;
        QRect expected;
    } const cases[] = {
        {QRect(30, 40, 400, 300), QRect(30, 40, 400, 300)},
        {QRect(5000, -4000, 400, 300), QRect(screen.topLeft() + QPoint(10, 10), QSize(400, 300))},
    };
    for (const Case& c : cases) {
        WriteProfileInt("Main Window", "x", c.stored.x());
        WriteProfileInt("Main Window", "y", c.stored.y());
        WriteProfileInt("Main Window", "cx", c.stored.width());
        WriteProfileInt("Main Window", "cy", c.stored.height());
        WriteProfileInt("Main Window", "State", 0);
        const CMainFrame* frame = Launch();
        EXPECT_EQ(frame->geometry(), c.expected);
        EXPECT_TRUE(frame->statusBar()->isVisible());
        program->Frame()->QuitNow();
        ASSERT_TRUE(PumpUntil([&] { return finished; }));
        EXPECT_EQ(GetProfileInt("Main Window", "x", -1), c.expected.x());
        program.reset();
    }
}

// Setup Printer Driver creates the queue once; a job printed through it is one alarm line.
TEST_F(Windowed, SetupPrinterDriver_CreatesTheQueueWhoseJobsBecomeAlarms)
{
    PrivateCupsd cupsd(false);
    ASSERT_TRUE(cupsd.up());
    CMainFrame* frame = Launch();
    const QString installed = u"Succeed to setup 'Generic / Text Only' Printer Driver."_qs;
    frame->Action(CMainFrame::CommandSetupPrinter)->trigger();
    ASSERT_TRUE(PumpUntil([&] { return ShownTexts(frame->View()).contains(installed); }, 60000));

    frame->Action(CMainFrame::CommandSetupPrinter)->trigger();
    EXPECT_EQ(TakeMessageBox(), u"'Generic / Text Only' Printer Driver is exist."_qs);
    EXPECT_EQ(ShownTexts(frame->View()).count(installed), 1);

    const QString alarm = u"ALARM Überhitzung 温度 Kessel 3"_qs;
    QProcess lp;
    lp.start(u"lp"_qs, {u"-d"_qs, u"Generic_Text_Only"_qs});
    lp.write(alarm.toUtf8() + '\n');
    lp.closeWriteChannel();
    ASSERT_TRUE(lp.waitForFinished(10000));
    ASSERT_EQ(lp.exitCode(), 0) << lp.readAllStandardError().toStdString();
    EXPECT_TRUE(PumpUntil([&] { return ShownTexts(frame->View()).contains(alarm); }, 30000));
    PumpUntil([] { return false; }, 1000); // a second alarm from the same job would show now
    EXPECT_EQ(ShownTexts(frame->View()).filter(u"ALARM"_qs), QStringList{alarm});
}

// A refused setup is a failure box with lpadmin's reason, never the success line; AutoRun's
// file and check marks follow the menu.
TEST_F(Windowed, SetupRefusedIsAFailure_AutoRunFileFollowsTheMenu)
{
    PrivateCupsd cupsd(true);
    ASSERT_TRUE(cupsd.up());
    CMainFrame* frame = Launch();
    frame->Action(CMainFrame::CommandSetupPrinter)->trigger();
    const QString failure = TakeMessageBox();
    EXPECT_TRUE(failure.startsWith(u"Failed to setup 'Generic / Text Only' Printer Driver."_qs))
        << failure.toStdString();
    EXPECT_TRUE(failure.contains(u"Unauthorized"_qs)) << failure.toStdString();
    EXPECT_TRUE(ShownTexts(frame->View()).filter(u"Succeed to setup"_qs).isEmpty());

    const QString file = qEnvironmentVariable("XDG_CONFIG_HOME") + u"/autostart/Zunaro.desktop"_qs;
    QAction* enable = frame->Action(CMainFrame::CommandEnableAutoRun);
    QAction* disable = frame->Action(CMainFrame::CommandDisableAutoRun);
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_TRUE(disable->isChecked());
    for (const bool on : {true, false}) {
        (on ? enable : disable)->trigger();
        EXPECT_EQ(QFile::exists(file), on);
        EXPECT_EQ(enable->isChecked(), on);
        EXPECT_EQ(disable->isChecked(), !on);
    }
}

TEST(EventView, KeepsTheLast1024Lines_CopiesTheFirstSelected)
{
    CEventView view{QString()};
    for (int i = 0; i < 1100; ++i) {
        EventSink(i % 2 ? EventType::Error : EventType::Information,
                  QStringLiteral("event %1").arg(i));
    }
    const QStringList texts = ShownTexts(&view);
    ASSERT_EQ(texts.size(), 1024);
    EXPECT_EQ(texts.first(), u"event 76"_qs);
    EXPECT_EQ(texts.last(), u"event 1099"_qs);

    QApplication::clipboard()->setText(u"untouched"_qs);
    view.CopySelection(); // nothing selected: nothing copied
    EXPECT_EQ(QApplication::clipboard()->text(), u"untouched"_qs);
    view.selectionModel()->select(view.model()->index(5, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view.selectionModel()->select(view.model()->index(2, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view.Action(CEventView::CommandCopy)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), u"event 78"_qs);

    // Clear Messages keeps what is still pending for the next tick.
    EventSink(EventType::Error, u"pending"_qs);
    view.Action(CEventView::CommandClearMessages)->trigger();
    EXPECT_EQ(view.model()->rowCount(), 0);
    EXPECT_EQ(ShownTexts(&view), QStringList{u"pending"_qs});
}

TEST(WindowedProgram, EndToEnd_SmsMailAndRunLogAfterSigterm)
{
    ModemSim::Prepare();
    ModemSim sim;
    ASSERT_TRUE(sim.Started());
    SmtpPeer server;
    ASSERT_TRUE(server.ok());
    WriteProfileString(kProfileMailServer, "127.0.0.1");
    WriteProfileInt(kProfileMailPort, server.plainPort);
    const QString path = TestHome() + u"/site.znr"_qs;
    WriteSettingsFile(path, 0, SmtpPeer::kUser, SmtpPeer::kPassword, u"13800000001"_qs,
                      u"op@example.org"_qs);
    SmallNormalWindow();
    const std::uint16_t port = FreePort();
    Program program(port, {path}, QProcessEnvironment::systemEnvironment(), false);
    ASSERT_TRUE(Listening(port));
    ASSERT_TRUE(SendJob(port, "ALARM 1\r\n\f"));
    const QByteArray pdu = "0891683108000005F011000D91683108000000F1"
                           "0008000A0041004C00410052004D\x1A";
    EXPECT_TRUE(WaitUntil([&] { return ModemSim::Transcript().contains(pdu); }, 60000))
        << ModemSim::Transcript().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return server.Messages().size() == 1; }, 20000));
    EXPECT_TRUE(server.Messages()[0].value("content").toString().contains("ALARM"));

    program.Process().terminate(); // SIGTERM: no save prompt, no quit question
    ASSERT_TRUE(program.Process().waitForFinished(15000));
    EXPECT_EQ(program.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.Process().exitCode(), 0);
    const QString log = RunLogText();
    EXPECT_TRUE(log.contains(u",ALARM\r\n"_qs)) << log.toStdString();
    EXPECT_TRUE(log.contains(u"Send 'ALARM' to 'op@example.org' successfully!"_qs));
    EXPECT_TRUE(log.contains(u"Quit Zunaro normally!"_qs));
    EXPECT_EQ(GetProfileInt("Main Window", "Toolbar", -1), 1); // the placement was saved
}
