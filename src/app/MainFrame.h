#pragma once

#include <map>

#include <QMainWindow>
#include <QSystemTrayIcon>

#include "app/Startup.h"

class CDesktopActions;
class CDlgUserList;
class CDoc;
class CEventView;
class QLabel;
class QMenu;

// The main window: the event view as its client, the menus, the toolbar, the status bar with
// the alarm count, and the tray icon. It is meant to stay up unattended: closing or
// minimising hides it in the tray (or minimises it where the desktop has no tray, so it can
// never become unreachable), and only the tray menu's Exit, confirmed, ends the program.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    // Command ids of the menus, toolbar and tray menu.
    enum Command
    {
        CommandNew = 57600,
        CommandOpen = 57601,
        CommandSave = 57603,
        CommandSaveAs = 57604,
        CommandRecentFirst = 57616,
        CommandExit = 57665,
        CommandCopy = 57634,
        CommandClearMessages = 32805,
        CommandErrorsOnly = 32806,
        CommandSaveLog = 32811,
        CommandLanguage = 32777,
        CommandToolbar = 59392,
        CommandStatusBar = 59393,
        CommandSetupPrinter = 32771,
        CommandUsers = 32778,
        CommandModem = 32818,
        CommandMail = 32804,
        CommandVoice = 32810,
        CommandEnableAutoRun = 32828,
        CommandDisableAutoRun = 32829,
        CommandHelp = 32825,
        CommandAbout = 57664,
        CommandTrayExit = 32803,
    };

    // doc must outlive the frame. runLogFolder is where the event view writes the run log.
    CMainFrame(CDoc& doc, const QString& runLogFolder, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CEventView* View() const { return m_view; }
    // The action of a command, or null.
    QAction* Action(int command) const;
    QMenu* TrayMenu() const { return m_trayMenu; }
    // The status bar's alarm count pane.
    QString SmsCountText() const;
    bool QuitConfirmed() const { return m_quitConfirmed; }

    // Runs once when the window is first shown: reports the settings file, restores the
    // placement (shown as it was left: normal, maximised or minimised), reads the logon start.
    void FirstActivation(const SettingsLoadReport& report);
    // Writes the placement to the profile section "Main Window".
    void SavePlacement() const;
    // Tray Exit: asks "Are you sure to quit Zunaro?" and ends the program unless the answer
    // is No.
    void TrayExit();
    // Ends without any question (SIGTERM, SIGINT): placement saved, no save prompt.
    void QuitNow();
    // Hidden in the tray, or minimised where there is no tray.
    bool IsTucked() const;
    // Shows the one recipient list dialog modally over parent (the frame itself for the
    // User... command, the modem and e-mail dialogs for their "..." buttons).
    void OpenUserList(QWidget* parent);
    // After a language switch: the menus, the toolbar's and tray's texts, the status panes
    // and the event view's column titles, all at once in the current language.
    void ApplyLanguage();
    // A click on the tray icon: a double-click shows or hides the window, unless a modal
    // dialog is open.
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);

signals:
    // The window accepted its close: the program ends.
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateTray();
    QAction* MakeAction(int command, unsigned caption);
    void SetActionTexts(int command, unsigned caption);
    void UpdateCommandStates();
    void RebuildRecentFiles();
    void UpdateSmsCount();
    void UpdateTitle();
    void RestorePlacement();
    void TuckAway();
    void ToggleFromTray();
    void OpenFile();
    void OpenRecent(const QString& path);
    void ShowHelp();
    // The dialog commands, each in its own Frame<Dialog>.cpp.
    void ShowAbout();
    void OnUsers();
    void OnModem();
    void OnMail();
    void OnVoice();
    void OnLanguage();
    void SetAutoRun(bool on);
    void SetPaneText(QLabel* pane, const QString& text);

    CDoc& m_doc;
    CEventView* m_view = nullptr;
    CDesktopActions* m_desktop = nullptr;
    CDlgUserList* m_userList = nullptr; // made at its first use, a child of the frame
    std::map<int, QAction*> m_actions;
    QList<QMenu*> m_menus; // the menu bar, left to right
    QMenu* m_fileMenu = nullptr;
    QMenu* m_trayMenu = nullptr;
    QAction* m_recentAnchor = nullptr;
    QList<QAction*> m_recentActions;
    QToolBar* m_toolBar = nullptr;
    QLabel* m_countPane = nullptr;
    QLabel* m_infoPane = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    int m_shownCount = -1;
    bool m_quitConfirmed = false;
    bool m_askToSave = true;
    bool m_autoRunEnabled = false;
    bool m_firstActivationDone = false;
};
