#pragma once

#include <array>

#include <QAction>
#include <QIcon>
#include <QTableView>

#include "eventlog/EventListModel.h"
#include "eventlog/EventStore.h"

// The event view: Date, Time and Event of every event, one line each, with an information or
// error image. It holds the event store that EventSink fills from any thread while the view
// lives, and moves the pending records into its list every 100 ms. Its four commands (Copy,
// Clear Messages, Log Errors Only, Save Log...) are actions that the main window puts into
// its menus, so the context menu shows the main menu's texts. When the view is destroyed it
// writes the run log and stores its column widths and filter.
class CEventView : public QTableView
{
    Q_OBJECT

public:
    enum Command
    {
        CommandClearMessages = 32805,
        CommandErrorsOnly = 32806,
        CommandSaveLog = 32811,
        CommandCopy = 57634,
    };

    // runLogFolder: where the run log is written at destruction (empty: none is written).
    explicit CEventView(const QString& runLogFolder, QWidget* parent = nullptr);
    ~CEventView() override;

    CEventListModel& Model() { return m_model; }
    CEventStore& Store() { return m_store; }
    // The action of one of the view's commands (its text is set by the main window).
    QAction* Action(Command command) const;
    // Moves what is pending into the list now (the timer does this every 100 ms).
    void Flush();
    // The context menu the right button or the space key opens, built from the current state.
    QMenu* BuildContextMenu();
    // After a language switch: the column titles in the current language, with the widths
    // stored in the profile (Date 120, Time 120, Event 80 when none are stored).
    void RefreshHeaders();

    void CopySelection();
    void SaveLogAs();

    // The two 16x16 line images: the desktop theme's, else the style's.
    static QIcon InformationIcon();
    static QIcon ErrorIcon();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateCommandStates();
    void ShowContextMenuAt(const QPoint& viewportPos);

    QString m_runLogFolder;
    CEventStore m_store;
    CEventListModel m_model{m_store};
    std::array<QAction*, 4> m_actions{};
};
