#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <vector>

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QTimer>

#include "eventlog/EventRecord.h"

class CEventStore;

// The lines of the event list: the records taken from the event store, oldest first, at most
// kMaxShown of them, with their Date, Time and Event texts made on demand (so a change of
// the regional settings shows at the next repaint). The view shows it and routes its
// commands here; the headless program uses it the same way without a view. Everything but
// the store's posting side runs on the thread that owns the model.
class CEventListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        ColumnDate = 0,
        ColumnTime = 1,
        ColumnEvent = 2,
        ColumnCount = 3
    };
    enum Role
    {
        ImageIndexRole = Qt::UserRole + 1, // int: 0 information, 1 error (image of the line)
        TypeRole,                          // int: the record's type as posted
    };
    static constexpr std::size_t kMaxShown = 1024;
    static constexpr int kTimerMs = 100;

    // The store must outlive the model.
    explicit CEventListModel(CEventStore& store, QObject* parent = nullptr);
    ~CEventListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Starts and stops the 100 ms timer that calls TimerStep.
    void StartTimer();
    void StopTimer();
    // Moves every pending record into the list in one batch, dropping the oldest lines beyond
    // kMaxShown. taken, when given, receives copies of the records moved (all of them, also
    // those pushed out again within this step); dropped the number the store lost to its own
    // bound. Returns the number of records taken.
    std::size_t TimerStep(std::vector<EventRecord>* taken = nullptr,
                          std::size_t* dropped = nullptr);

    // Clear Messages: removes the shown lines; pending records appear at the next step.
    void ClearMessages();
    // Log Errors Only: toggles the store's filter. Returns the new state.
    bool ToggleErrorsOnly();
    bool IsErrorsOnly() const;
    // True while lines are shown (Clear Messages, Save Log... and the context menu's lower
    // part are enabled).
    bool HasLines() const { return !m_shown.empty(); }
    // The event text of the first of rows in list order, or an empty string for no rows (the
    // Copy command puts it on the clipboard).
    QString CopyText(const QList<int>& rows) const;

    // Save Log...: writes the shown lines to path. Returns false when the file could not be
    // written in full.
    bool SaveLog(const QString& path) const;
    // The run log: deletes the *.log files of folder and writes the shown lines with the
    // closing line. Returns the path written, or empty on failure.
    QString WriteRunLog(const QString& folder) const;

    // Reads "Log Errors Only" from the profile into the store.
    void LoadSettings();
    // Stores "Log Errors Only" in the profile.
    void SaveSettings() const;
    // Column widths from the profile: at window creation a missing or negative entry is 120;
    // at a header refresh the defaults are 120, 120, 80.
    static std::array<int, 3> ColumnWidths(bool headerRefresh = false);
    // Stores the three column widths in the profile.
    static void SaveColumnWidths(const std::array<int, 3>& widths);
    // Tells the view that the header texts changed (after a language switch).
    void RefreshHeaders();

    // The shown records, oldest first.
    const std::deque<EventRecord>& Shown() const { return m_shown; }
    // The line the headless program prints for a record: "date,time,text", the text on one
    // line (FormatLogLine).
    static QString LineText(const EventRecord& record);

private:
    void OnLocaleChanged();

    CEventStore& m_store;
    std::deque<EventRecord> m_shown;
    QTimer m_timer;
};
