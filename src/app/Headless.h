#pragma once

#include <cstdio>
#include <memory>

#include <QObject>
#include <QString>
#include <QTimer>

#include "capture/RawPrintServer.h"
#include "eventlog/EventListModel.h"
#include "eventlog/EventStore.h"

class CDoc;
class CGatewayApp;
class TerminationSignals;

// The program without windows: the application object, the event store and list model that
// stand in for the event view, a 100 ms timer that prints every new event as
// "date,time,text" (the log file's line, in the locale's formats) on standard output, and
// an orderly end on SIGTERM or SIGINT that writes the run log as the event view does.
class CHeadless : public QObject
{
    Q_OBJECT

public:
    explicit CHeadless(FILE* out = stdout, QObject* parent = nullptr);
    ~CHeadless() override;

    // Opens the settings file (the one named, else the start-up choice), then starts
    // capture. Returns false when the termination signals cannot be caught.
    bool Start(const QString& settingsFile = QString(), const ListenerTiming& timing = {});
    // Stops everything in order, prints the last events and quits the event loop with 0.
    void Shutdown();

    CGatewayApp& App() { return *m_app; }
    CEventStore& Store() { return m_store; }

private:
    void PrintPending();

    FILE* m_out;
    CEventStore m_store;
    CEventListModel m_model{m_store};
    std::unique_ptr<CGatewayApp> m_app;
    std::unique_ptr<CDoc> m_doc; // reads and writes m_app's fields: destroyed first
    TerminationSignals* m_signals = nullptr;
    QTimer m_timer;
    bool m_shutDown = false;
};

// The headless program: takes the instance lock (a second start prints the refusal on
// standard error and returns 1), runs CHeadless until SIGTERM or SIGINT. Returns the exit
// status.
int RunHeadless(int& argc, char** argv, const QString& settingsFile);
