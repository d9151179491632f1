#include "app/MainFrame.h"

#include <mutex>
#include <span>

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include "app/AppIcons.h"
#include "app/DesktopActions.h"
#include "app/DlgSetting.h"
#include "app/LangResource.h"
#include "capture/AlarmCounter.h"
#include "eventlog/EventSink.h"
#include "eventlog/EventView.h"
#include "platform/DialogParts.h"
#include "platform/Folders.h"
#include "platform/Profile.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "settings/SettingsDoc.h"

namespace {

constexpr int kTrayTipMax = 63; // the tip field holds 64 characters with its terminator
constexpr int kCountPollMs = 250;
constexpr int kRecentFiles = 4;

// The placement entries of section "Main Window"; cx and cy default to half the screen.
const QString kPlacementSection = QStringLiteral("Main Window");
constexpr int kDefaultLeft = 10;
constexpr int kDefaultTop = 10;

// Separator marker of the menu tables.
constexpr int kSeparator = 0;

struct MenuItem
{
    int command;
    unsigned caption; // "&Copy\tCtrl+C": the text after the tab is the accelerator
};

// The main menu, in order; the captions come from the string table.
const MenuItem kFileMenu[] = {{CMainFrame::CommandNew, kIdsMenuNew},
                              {CMainFrame::CommandOpen, kIdsMenuOpen},
                              {CMainFrame::CommandSave, kIdsMenuSave},
                              {CMainFrame::CommandSaveAs, kIdsMenuSaveAs},
                              {kSeparator, 0},
                              {CMainFrame::CommandRecentFirst, kIdsMenuRecentFile},
                              {kSeparator, 0},
                              {CMainFrame::CommandExit, kIdsMenuExit}};
const MenuItem kEditMenu[] = {{CMainFrame::CommandCopy, kIdsMenuCopy}};
const MenuItem kViewMenu[] = {{CMainFrame::CommandClearMessages, kIdsMenuClearMessages},
                              {CMainFrame::CommandErrorsOnly, kIdsMenuErrorsOnly},
                              {CMainFrame::CommandSaveLog, kIdsMenuSaveLog},
                              {kSeparator, 0},
                              {CMainFrame::CommandLanguage, kIdsMenuLanguage},
                              {kSeparator, 0},
                              {CMainFrame::CommandToolbar, kIdsMenuToolbar},
                              {CMainFrame::CommandStatusBar, kIdsMenuStatusBar}};
const MenuItem kAlarmMenu[] = {{CMainFrame::CommandSetupPrinter, kIdsMenuSetupPrinter},
                               {kSeparator, 0},
                               {CMainFrame::CommandUsers, kIdsMenuUsers},
                               {CMainFrame::CommandModem, kIdsMenuModem},
                               {CMainFrame::CommandMail, kIdsMenuMail},
                               {CMainFrame::CommandVoice, kIdsMenuVoice},
                               {kSeparator, 0},
                               {CMainFrame::CommandEnableAutoRun, kIdsMenuEnableAutoRun},
                               {CMainFrame::CommandDisableAutoRun, kIdsMenuDisableAutoRun}};
const MenuItem kHelpMenu[] = {{CMainFrame::CommandHelp, kIdsMenuHelpContents},
                              {kSeparator, 0},
                              {CMainFrame::CommandAbout, kIdsMenuAbout}};

struct MenuTitle
{
    unsigned title;
    std::span<const MenuItem> items;
};

// The menu bar, left to right.
const MenuTitle kMenuBar[] = {{kIdsMenuFile, kFileMenu},
                              {kIdsMenuEdit, kEditMenu},
                              {kIdsMenuView, kViewMenu},
                              {kIdsMenuAlarm, kAlarmMenu},
                              {kIdsMenuHelp, kHelpMenu}};

constexpr qsizetype kAlarmMenuIndex = 3;

// A caption without the accelerator that follows its tab.
QString CaptionText(unsigned id)
{
    return LoadString(id).section(u'\t', 0, 0);
}

// The file dialogs' filter, from the document template ("Zunaro Files (*.znr)").
QString DocumentFilter()
{
    const QStringList parts = LoadString(kIdsDocumentTemplate).split(u'\n');
    return parts.size() > 3 ? parts[3] : QStringLiteral("Zunaro Files (*.znr)");
}

QString AppTitle()
{
    return LoadString(kIdsFrameTitle);
}

} // namespace

CMainFrame::CMainFrame(CDoc& doc, const QString& runLogFolder, QWidget* parent)
    : QMainWindow(parent), m_doc(doc)
{
    ResetAlarmCounter();
    setWindowIcon(AppIcon("zunaro", QStyle::SP_ComputerIcon));
    m_view = new CEventView(runLogFolder, this);
    setCentralWidget(m_view);
    m_desktop = new CDesktopActions(this);
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreateTray();

    m_doc.SetSavePrompt([this](const QString& title) {
        QMessageBox box(QMessageBox::Question, AppTitle(),
                        FormatText(LoadString(kIdsSaveChanges), {title}),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Yes);
        LabelMessageBoxButtons(box);
        const auto answer = box.exec();
        return answer == QMessageBox::Yes  ? CDocument::SaveAnswer::Save
               : answer == QMessageBox::No ? CDocument::SaveAnswer::Discard
                                           : CDocument::SaveAnswer::Cancel;
    });
    m_doc.SetFileNamePrompt([this](const QString& suggested) {
        QFileDialog dialog(this, LoadString(kIdsSaveAsTitle), suggested, DocumentFilter());
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("znr"));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return QString();
        }
        return dialog.selectedFiles().first();
    });
    connect(&m_doc, &CDocument::titleChanged, this, &CMainFrame::UpdateTitle);
    connect(&m_doc, &CDocument::busy, this, [](bool on) {
        if (on) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    });
    UpdateTitle();

    // The count pane follows the alarm counter; its text is rebuilt only when it changes.
    auto* poll = new QTimer(this);
    poll->setInterval(kCountPollMs);
    connect(poll, &QTimer::timeout, this, &CMainFrame::UpdateSmsCount);
    poll->start();
    UpdateSmsCount();
}

CMainFrame::~CMainFrame()
{
    if (m_tray) {
        m_tray->hide();
    }
}

QAction* CMainFrame::MakeAction(int command, unsigned caption)
{
    QAction* action = nullptr;
    if (command == CommandClearMessages || command == CommandErrorsOnly ||
        command == CommandSaveLog || command == CommandCopy) {
        action = m_view->Action(static_cast<CEventView::Command>(command));
    } else if (command == CommandToolbar) {
        action = m_toolBar ? m_toolBar->toggleViewAction() : new QAction(this);
    } else {
        action = new QAction(this);
    }
    // The keys are the same in every language: they come from the built-in table.
    const QString keys = LoadEnglishString(caption).section(u'\t', 1);
    if (!keys.isEmpty()) {
        action->setShortcut(QKeySequence(keys, QKeySequence::PortableText));
    }
    m_actions[command] = action;
    SetActionTexts(command, caption);
    return action;
}

void CMainFrame::SetActionTexts(int command, unsigned caption)
{
    QAction* action = Action(command);
    action->setText(CaptionText(caption));
    // The prompt shows in the status bar; the part after the line break is the tooltip.
    const QStringList prompt = LoadString(static_cast<unsigned>(command)).split(u'\n');
    action->setStatusTip(prompt.first());
    // Without a prompt the tooltip follows the caption.
    action->setToolTip(prompt.size() > 1 ? prompt[1] : prompt.first());
}

QAction* CMainFrame::Action(int command) const
{
    const auto it = m_actions.find(command);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::CreateMenus()
{
    // The toolbar exists before its show/hide entry is made.
    m_toolBar = new QToolBar(LoadString(kIdsToolbarTitle), this);
    m_toolBar->setObjectName(QStringLiteral("Toolbar"));
    for (const MenuTitle& title : kMenuBar) {
        QMenu* menu = menuBar()->addMenu(LoadString(title.title));
        m_menus.append(menu);
        for (const MenuItem& item : title.items) {
            if (item.command == kSeparator) {
                menu->addSeparator();
            } else {
                menu->addAction(MakeAction(item.command, item.caption));
            }
        }
    }
    m_fileMenu = m_menus.first();
    QMenu* alarm = m_menus[kAlarmMenuIndex];
    m_recentAnchor = Action(CommandRecentFirst);

    Action(CommandCopy)
        ->setShortcuts(
            {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
    connect(Action(CommandNew), &QAction::triggered, this, [this] { m_doc.NewDocument(); });
    connect(Action(CommandOpen), &QAction::triggered, this, &CMainFrame::OpenFile);
    connect(Action(CommandSave), &QAction::triggered, this, [this] { m_doc.Save(); });
    connect(Action(CommandSaveAs), &QAction::triggered, this, [this] { m_doc.SaveAs(); });
    connect(Action(CommandExit), &QAction::triggered, this, &QWidget::close);
    QAction* statusBarAction = Action(CommandStatusBar);
    statusBarAction->setCheckable(true);
    statusBarAction->setChecked(true);
    connect(statusBarAction, &QAction::toggled, this,
            [this](bool on) { statusBar()->setVisible(on); });
    connect(Action(CommandHelp), &QAction::triggered, this, &CMainFrame::ShowHelp);
    connect(Action(CommandAbout), &QAction::triggered, this, &CMainFrame::ShowAbout);
    connect(Action(CommandLanguage), &QAction::triggered, this, &CMainFrame::OnLanguage);
    connect(Action(CommandUsers), &QAction::triggered, this, &CMainFrame::OnUsers);
    connect(Action(CommandModem), &QAction::triggered, this, &CMainFrame::OnModem);
    connect(Action(CommandMail), &QAction::triggered, this, &CMainFrame::OnMail);
    connect(Action(CommandVoice), &QAction::triggered, this, &CMainFrame::OnVoice);

    Action(CommandEnableAutoRun)->setCheckable(true);
    Action(CommandDisableAutoRun)->setCheckable(true);
    connect(Action(CommandSetupPrinter), &QAction::triggered, this,
            [this] { m_desktop->SetupPrinterDriver(this); });
    connect(Action(CommandEnableAutoRun), &QAction::triggered, this, [this] { SetAutoRun(true); });
    connect(Action(CommandDisableAutoRun), &QAction::triggered, this,
            [this] { SetAutoRun(false); });

    connect(m_fileMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
    connect(alarm, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
    UpdateCommandStates();
}

void CMainFrame::CreateToolBar()
{
    m_toolBar->setMovable(true);
    m_toolBar->setIconSize(QSize(16, 16));
    const auto button = [this](int command, const char* icon, QStyle::StandardPixmap fallback) {
        QAction* action = Action(command);
        action->setIcon(AppIcon(icon, fallback));
        m_toolBar->addAction(action);
    };
    button(CommandNew, "new", QStyle::SP_FileIcon);
    button(CommandOpen, "open", QStyle::SP_DialogOpenButton);
    button(CommandSave, "save", QStyle::SP_DialogSaveButton);
    m_toolBar->addSeparator();
    button(CommandCopy, "copy", QStyle::SP_FileDialogContentsView);
    m_toolBar->addSeparator();
    button(CommandAbout, "about", QStyle::SP_MessageBoxQuestion);
    addToolBar(Qt::TopToolBarArea, m_toolBar);
}

void CMainFrame::CreateStatusBar()
{
    m_countPane = new QLabel(this);
    m_infoPane = new QLabel(this);
    m_countPane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_infoPane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusBar()->addPermanentWidget(m_countPane);
    statusBar()->addPermanentWidget(m_infoPane);
    statusBar()->showMessage(LoadString(kIdsReady));
    SetPaneText(m_infoPane, LoadString(kIdsPrinterPane));
}

void CMainFrame::CreateTray()
{
    m_trayMenu = new QMenu(this);
    m_trayMenu->addAction(Action(CommandAbout));
    m_trayMenu->addSeparator();
    QAction* exit = new QAction(this);
    m_actions[CommandTrayExit] = exit;
    SetActionTexts(CommandTrayExit, kIdsTrayExit);
    connect(exit, &QAction::triggered, this, &CMainFrame::TrayExit);
    m_trayMenu->addAction(exit);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return; // closing minimises instead of hiding
    }
    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setToolTip(LoadString(kIdsFrameTitle).left(kTrayTipMax));
    m_tray->setContextMenu(m_trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this, &CMainFrame::OnTrayActivated);
    m_tray->show();
}

void CMainFrame::SetPaneText(QLabel* pane, const QString& text)
{
    pane->setText(text);
    pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(text) + 8);
}

void CMainFrame::UpdateSmsCount()
{
    const int count = AlarmCounterValue();
    if (count == m_shownCount) {
        return;
    }
    m_shownCount = count;
    SetPaneText(m_countPane, FormatText(LoadString(kIdsSmsCount), {QString::number(count)}));
}

QString CMainFrame::SmsCountText() const
{
    return m_countPane->text();
}

void CMainFrame::UpdateTitle()
{
    setWindowTitle(AppTitle() + QStringLiteral(" - ") + m_doc.GetTitle());
    // The document sets its modified flag after its title: look at it once it has.
    QMetaObject::invokeMethod(this, &CMainFrame::UpdateCommandStates, Qt::QueuedConnection);
}

void CMainFrame::UpdateCommandStates()
{
    Action(CommandSave)->setEnabled(m_doc.IsModified());
    Action(CommandEnableAutoRun)->setChecked(m_autoRunEnabled);
    Action(CommandDisableAutoRun)->setChecked(!m_autoRunEnabled);
    RebuildRecentFiles();
}

void CMainFrame::RebuildRecentFiles()
{
    for (QAction* action : m_recentActions) {
        m_fileMenu->removeAction(action);
        action->deleteLater();
    }
    m_recentActions.clear();
    m_doc.RecentFiles().Load();
    const QStringList files = m_doc.RecentFiles().Files();
    m_recentAnchor->setVisible(files.isEmpty());
    m_recentAnchor->setEnabled(false);
    for (int i = 0; i < files.size() && i < kRecentFiles; ++i) {
        const QString path = files[i];
        auto* action = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(path), this);
        action->setData(CommandRecentFirst + i);
        connect(action, &QAction::triggered, this, [this, path] { OpenRecent(path); });
        m_fileMenu->insertAction(m_recentAnchor, action);
        m_recentActions.append(action);
    }
}

void CMainFrame::OpenFile()
{
    const QString path = QFileDialog::getOpenFileName(this, LoadString(kIdsOpenTitle), DataFolder(),
                                                      DocumentFilter());
    if (!path.isEmpty()) {
        OpenRecent(path);
    }
}

void CMainFrame::OpenRecent(const QString& path)
{
    // The modem on the file's port is set up by its own worker: opening returns at once.
    if (!m_doc.OpenDocument(path) && !QFileInfo(path).isFile()) {
        m_doc.RecentFiles().Remove(path);
        EventSink(EventType::Error, FormatText(LoadString(kIdsLoadFailed), {path}));
    }
    UpdateCommandStates();
}

void CMainFrame::ShowHelp()
{
    const QString path = ResourceFolder() + QStringLiteral("/Help/") + LoadString(kIdsHelpFile);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The viewer is started detached; a missing file shows whatever the desktop shows.
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    QApplication::restoreOverrideCursor();
}

void CMainFrame::OnLanguage()
{
    CDlgSetting dialog(CLangResource::Instance(), this);
    if (dialog.exec() == QDialog::Accepted) {
        ApplyLanguage();
    }
}

void CMainFrame::ApplyLanguage()
{
    // The toolbar names its show/hide entry after its title: the entry's caption comes after.
    m_toolBar->setWindowTitle(LoadString(kIdsToolbarTitle));
    for (qsizetype i = 0; i < m_menus.size(); ++i) {
        const MenuTitle& title = kMenuBar[i];
        m_menus[i]->setTitle(LoadString(title.title));
        for (const MenuItem& item : title.items) {
            if (item.command != kSeparator) {
                SetActionTexts(item.command, item.caption);
            }
        }
    }
    SetActionTexts(CommandTrayExit, kIdsTrayExit);
    m_view->RefreshHeaders();
    statusBar()->showMessage(LoadString(kIdsReady));
    m_shownCount = -1; // the count is formatted again in the new language
    UpdateSmsCount();
    SetPaneText(m_infoPane, LoadString(kIdsPrinterPane));
    if (m_tray) {
        m_tray->setToolTip(LoadString(kIdsFrameTitle).left(kTrayTipMax));
    }
    UpdateTitle();
}

void CMainFrame::SetAutoRun(bool on)
{
    QString error;
    const bool ok =
        on ? CDesktopActions::EnableAutoRun(&error) : CDesktopActions::DisableAutoRun(&error);
    if (!ok) {
        EventSink(EventType::Error, error);
    }
    m_autoRunEnabled = CDesktopActions::AutoRunEnabled();
    UpdateCommandStates();
}

void CMainFrame::FirstActivation(const SettingsLoadReport& report)
{
    if (m_firstActivationDone) {
        return;
    }
    if (report.any) {
        EventSink(report.type, report.text);
    }
    RestorePlacement();
    m_autoRunEnabled = CDesktopActions::AutoRunEnabled();
    UpdateCommandStates();
    m_firstActivationDone = true;
}

void CMainFrame::RestorePlacement()
{
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QRect screen = primary ? primary->availableGeometry() : QRect(0, 0, 800, 600);
    const auto get = [](const char* key, int def) {
        return GetProfileInt(kPlacementSection, QString::fromLatin1(key), def);
    };
    m_toolBar->setVisible(get("Toolbar", 1) != 0);
    const bool statusShown = get("Status Bar", 1) != 0;
    statusBar()->setVisible(statusShown);
    Action(CommandStatusBar)->setChecked(statusShown);
    QRect rect(get("x", kDefaultLeft), get("y", kDefaultTop), get("cx", screen.width() / 2),
               get("cy", screen.height() / 2));
    rect.setWidth(std::clamp(rect.width(), 200, std::max(200, screen.width())));
    rect.setHeight(std::clamp(rect.height(), 150, std::max(150, screen.height())));
    // A placement left on a screen that is gone comes back onto the primary one.
    bool onScreen = false;
    for (const QScreen* s : QGuiApplication::screens()) {
        const QRect visible = s->availableGeometry().intersected(rect);
        onScreen = onScreen || (visible.width() >= 50 && visible.height() >= 20);
    }
    if (!onScreen) {
        rect.moveTopLeft(screen.topLeft() + QPoint(kDefaultLeft, kDefaultTop));
    }
    setGeometry(rect);
    switch (get("State", 0)) {
    case -1:
        showMinimized();
        break;
    case 1:
        showMaximized();
        break;
    default:
        showNormal();
        break;
    }
}

void CMainFrame::SavePlacement() const
{
    const auto put = [](const char* key, int value) {
        WriteProfileInt(kPlacementSection, QString::fromLatin1(key), value);
    };
    if (isMinimized() || (isHidden() && m_firstActivationDone && m_tray)) {
        put("State", -1);
    } else if (isMaximized()) {
        put("State", 1);
    } else {
        const QRect r = geometry();
        put("x", r.x());
        put("y", r.y());
        put("cx", r.width());
        put("cy", r.height());
        put("State", 0);
    }
    put("Toolbar", m_toolBar->isVisibleTo(this) ? 1 : 0);
    put("Status Bar", statusBar()->isVisibleTo(this) ? 1 : 0);
}

bool CMainFrame::IsTucked() const
{
    return m_tray ? isHidden() : isMinimized();
}

void CMainFrame::TuckAway()
{
    if (m_tray) {
        hide();
    } else {
        showMinimized();
    }
}

void CMainFrame::OnTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    // A modal dialog keeps the window as it is: hiding it would hide the dialog's owner.
    if (reason == QSystemTrayIcon::DoubleClick && !QApplication::activeModalWidget()) {
        ToggleFromTray();
    }
}

void CMainFrame::ToggleFromTray()
{
    if (isHidden() || isMinimized()) {
        showMaximized();
        raise();
        activateWindow();
    } else {
        hide();
    }
}

void CMainFrame::TrayExit()
{
    QMessageBox box(QMessageBox::Question, AppTitle(), LoadString(kIdsQuitConfirm),
                    QMessageBox::Yes | QMessageBox::No, this);
    LabelMessageBoxButtons(box);
    if (box.exec() == QMessageBox::No) {
        return;
    }
    m_quitConfirmed = true;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CMainFrame::QuitNow()
{
    m_quitConfirmed = true;
    m_askToSave = false;
    close();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (!m_quitConfirmed) {
        event->ignore();
        TuckAway();
        QApplication::beep();
        return;
    }
    SavePlacement();
    if (m_askToSave && !m_doc.SaveModified()) {
        m_quitConfirmed = false; // the save prompt was cancelled: keep running
        event->ignore();
        return;
    }
    event->accept();
    hide();
    if (m_tray) {
        m_tray->hide();
    }
    emit quitRequested();
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_tray) {
        // Minimised means tucked into the tray; it stays reachable from there.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) {
                hide();
            }
        });
    }
}
