#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/MainFrame.h"
#include "app/ProgramProcess.h"
#include "app/Windowed.h"
#include "eventlog/EventSink.h"
#include "eventlog/EventView.h"
#include "mail/MailTestSupport.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "settings/SettingsDoc.h"
#include "sms/ModemSim.h"
#include "support/PrivateCupsd.h"

namespace {

// Clicks button on the next message box that opens (the quit confirmation, a prompt, a
// report) and keeps its text in *text.
void AnswerNextMessageBox(QMessageBox::StandardButton button, QString* text = nullptr)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, button, text] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box && box->isVisible() && box->button(button)) {
                if (text) {
                    *text = box->text();
                }
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

bool Listening(std::uint16_t port)
{
    return WaitUntil([&] {
        const SOCKET s = ConnectLoopback(port);
        return s != INVALID_SOCKET && closesocket(s) == 0;
    });
}

void PlaceWindow(const QRect& r)
{
    WriteProfileInt("Main Window", "x", r.x());
    WriteProfileInt("Main Window", "y", r.y());
    WriteProfileInt("Main Window", "cx", r.width());
    WriteProfileInt("Main Window", "cy", r.height());
    WriteProfileInt("Main Window", "State", 0);
}

QStringList ShownTexts(CEventView* view)
{
    view->Flush();
    return TextsOf(view->Model().Shown());
}

// The windowed program in this process, listening on a free port, no serial device.
class Windowed : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteProfileString("Ports", "COM1", "/nonexistent/zunaro-modem");
        // Each test starts from the same placement, and the pictures stay below the size at
        // which Qt hands image work to its thread pool.
        PlaceWindow(QRect(10, 10, 320, 240));
        DeleteProfileValue("Main Window", "Toolbar");
        WriteProfileInt(kProfileListenerPort, port);
    }

    CMainFrame* Launch(const QString& file = QString())
    {
        program = std::make_unique<CWindowed>();
        QObject::connect(program.get(), &CWindowed::finished, [this] { finished = true; });
        finished = false;
        program->Start(file);
        EXPECT_TRUE(Listening(port));
        return program->Frame();
    }

    const std::uint16_t port = FreePort();
    bool finished = false; // set by the program's end, so it outlives the program
    std::unique_ptr<CWindowed> program;
};

} // namespace

// A named file is opened, else the first settings file of the data folder; one that cannot
// be read is reported, and the program listens either way.
TEST_F(Windowed, Startup_ReportsTheSettingsChoiceAndListens)
{
    const QString gone = TestHome() + u"/gone.znr"_qs;
    const QString site = qEnvironmentVariable("ZUNARO_HOME") + u"/site.znr"_qs;
    const QString loaded = u"Load '"_qs + site + u"' successfully!"_qs;
    const QString failed = u"Failed to load '"_qs + gone + u"'"_qs;
    struct Case
    {
        QString named;
        QString recent;
        bool siteFile;
        QString expected; // empty: no report line
    } const cases[] = {
        {QString(), QString(), false, QString()},
        {QString(), QString(), true, loaded},
        {QString(), gone, false, failed},
        {gone, QString(), true, failed},
    };
    for (const Case& c : cases) {
        QFile::remove(site);
        if (c.siteFile) {
            WriteSettingsFile(site);
        }
        WriteProfileString(kProfileRecentFiles[0], c.recent);
        const QStringList texts = ShownTexts(Launch(c.named)->View());
        EXPECT_TRUE(texts.contains(u"Succeed to initialize Zunaro."_qs));
        EXPECT_EQ(texts.filter(u"load"_qs, Qt::CaseInsensitive),
                  c.expected.isEmpty() ? QStringList() : QStringList{c.expected})
            << c.named.toStdString() << " " << c.recent.toStdString() << " " << c.siteFile;
        program.reset();
    }
}

TEST_F(Windowed, CloseHidesAndKeepsListening_OnlyConfirmedTrayExitEnds)
{
    CMainFrame* frame = Launch();
    ASSERT_TRUE(frame->isVisible());
    frame->close();
    frame->Action(CMainFrame::CommandExit)->trigger();
    EXPECT_TRUE(PumpUntil([&] { return frame->IsTucked(); }));
    ASSERT_TRUE(SendJob(port, "after close\r\n"));
    EXPECT_TRUE(PumpUntil([&] { return ShownTexts(frame->View()).contains(u"after close"_qs); }));

    AnswerNextMessageBox(QMessageBox::No);
    frame->TrayExit();
    QApplication::processEvents();
    EXPECT_FALSE(finished);
    ASSERT_TRUE(SendJob(port, "after no\r\n"));
    EXPECT_TRUE(PumpUntil([&] { return ShownTexts(frame->View()).contains(u"after no"_qs); }));
    EXPECT_TRUE(PumpUntil([&] { return frame->SmsCountText() == u"SMS Count: 2"_qs; }))
        << frame->SmsCountText().toStdString();

    AnswerNextMessageBox(QMessageBox::Yes);
    frame->TrayExit();
    ASSERT_TRUE(PumpUntil([&] { return finished; }));
    EXPECT_EQ(ConnectLoopback(port), INVALID_SOCKET);
    EXPECT_TRUE(RunLogText().contains(u",after no\n"_qs));
    EXPECT_TRUE(RunLogText().contains(u"Quit Zunaro normally!"_qs));
    EXPECT_EQ(GetProfileInt("Main Window", "State", 0), -1); // left minimised
}

TEST_F(Windowed, ChangedSettings_AskedOnConfirmedExitButNotOnSignal)
{
    CMainFrame* frame = Launch();
    program->Doc().SetModifiedMark(true);
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
        PlaceWindow(c.stored);
        const CMainFrame* frame = Launch();
        EXPECT_EQ(frame->geometry(), c.expected);
        program.reset();
    }
}

// Setup Printer Driver: a refused setup is a failure box with lpadmin's reason, never the
// success line; an accepted one creates the queue once, and a job printed through it is one
// alarm line. AutoRun's file and check marks follow the menu.
TEST_F(Windowed, DesktopActions_PrinterSetupAndAutoRunFollowTheMenu)
{
    CMainFrame* frame = Launch();
    QAction* setup = frame->Action(CMainFrame::CommandSetupPrinter);
    {
        PrivateCupsd cupsd(true);
        ASSERT_TRUE(cupsd.up());
        QString failure;
        AnswerNextMessageBox(QMessageBox::Ok, &failure);
        setup->trigger();
        ASSERT_TRUE(PumpUntil([&] { return !failure.isEmpty(); }, 60000));
        EXPECT_TRUE(failure.startsWith(u"Failed to setup 'Generic / Text Only' Printer Driver."_qs))
            << failure.toStdString();
        EXPECT_TRUE(failure.contains(u"Unauthorized"_qs)) << failure.toStdString();
        EXPECT_TRUE(ShownTexts(frame->View()).filter(u"Succeed to setup"_qs).isEmpty());
    }
    PrivateCupsd cupsd(false);
    ASSERT_TRUE(cupsd.up());
    const QString installed = u"Succeed to setup 'Generic / Text Only' Printer Driver."_qs;
    setup->trigger();
    ASSERT_TRUE(PumpUntil([&] { return ShownTexts(frame->View()).contains(installed); }, 60000));
    QString exists;
    AnswerNextMessageBox(QMessageBox::Ok, &exists);
    setup->trigger();
    EXPECT_TRUE(PumpUntil([&] { return !exists.isEmpty(); }, 60000));
    EXPECT_EQ(exists, u"'Generic / Text Only' Printer Driver is exist."_qs);
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

// Copy takes the first selected line in list order.
TEST(EventView, CopiesTheFirstSelectedLine)
{
    CEventView view{QString()};
    for (const QString& text : {u"zero"_qs, u"one"_qs, u"two"_qs, u"three"_qs}) {
        EventSink(EventType::Information, text);
    }
    ASSERT_EQ(ShownTexts(&view).size(), 4);
    for (const int row : {3, 1}) {
        view.selectionModel()->select(view.model()->index(row, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    view.Action(CEventView::CommandCopy)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), u"one"_qs);
}

// The windowed program as a user starts it. An outbox that cannot be opened (a folder
// stands at its name) is reported and the alarm goes out from memory: exact PDU to the
// modem, mail to the server. SIGTERM ends it without a save prompt or quit question.
TEST_F(Windowed, Program_SmsMailAndRunLogAfterSigterm)
{
    ModemSim::Prepare();
    ModemSim sim;
    ASSERT_TRUE(sim.Started());
    SmtpPeer server;
    ASSERT_TRUE(server.ok());
    UseMailServer(server.plainPort);
    const QString path =
        WriteSettingsFile(TestHome() + u"/site.znr"_qs, 0, SmtpPeer::kUser, SmtpPeer::kPassword,
                          u"13800000001"_qs, u"op@example.org"_qs);
    QFile::remove(OutboxJournal());
    ASSERT_TRUE(QDir().mkpath(OutboxJournal()));
    Program process(port, {path}, QProcessEnvironment::systemEnvironment(), false);
    ASSERT_TRUE(Listening(port));
    ASSERT_TRUE(SendJob(port, "ALARM 1\r\n\f"));
    // The text as UCS2 to +86 13800000001, through the real serial layer.
    const QByteArray exchange = "AT+CMGS=25\r0891683108000005F011000D91683108000000F1"
                                "0008000A0041004C00410052004D\x1A";
    EXPECT_TRUE(WaitUntil([&] { return ModemSim::Transcript().contains(exchange); }, 60000))
        << ModemSim::Transcript().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return server.Messages().size() == 1; }, 20000));
    EXPECT_TRUE(server.Messages()[0].value("content").toString().contains("ALARM"));

    EXPECT_EQ(process.Stop(), 0);
    const QString log = RunLogText();
    EXPECT_TRUE(log.contains(
        FormatText(LoadString(kIdsOutboxCannotOpen), {OutboxJournal(), qt_error_string(EISDIR)})))
        << log.toStdString();
    EXPECT_TRUE(log.contains(u"Send 'ALARM' to 'op@example.org' successfully!"_qs));
    EXPECT_EQ(GetProfileInt("Main Window", "Toolbar", -1), 1); // the placement was saved
    QDir(OutboxJournal()).removeRecursively();
}
