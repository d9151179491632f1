#pragma once

#include <cstdio>
#include <memory>

#include <QObject>
#include <QString>
#include <QTimer>

#include "capture/RawPrintServer.h"
#include "eventlog/EventStore.h"

class CGatewayApp;
class TerminationSignals;
struct EventRecord;

// The program without windows: the application object, the event store that stands in for
// the event view, a 100 ms timer that prints every new event as "date,time,text" on
// standard output, and an orderly end on SIGTERM or SIGINT.
class CHeadless : public QObject
{
    Q_OBJECT

public:
    explicit CHeadless(FILE* out = stdout, QObject* parent = nullptr);
    ~CHeadless() override;

    // Starts capture. Returns false when the termination signals cannot be caught.
    bool Start(const ListenerTiming& timing = {});
    // Stops everything in order, prints the last events and quits the event loop with 0.
    void Shutdown();

    CGatewayApp& App() { return *m_app; }
    CEventStore& Store() { return m_store; }

    // Formats one record as its output line (without the line end).
    static QString FormatLine(const EventRecord& record);

private:
    void PrintPending();

    FILE* m_out;
    CEventStore m_store;
    std::unique_ptr<CGatewayApp> m_app;
    TerminationSignals* m_signals = nullptr;
    QTimer m_timer;
    bool m_shutDown = false;
};
