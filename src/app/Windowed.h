#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "app/Startup.h"

class CDoc;
class CGatewayApp;
class CMainFrame;
class TerminationSignals;

// The windowed program: the application object, the settings document and the main window
// with its event view, started by the shared start-up and ended in order: the listener and
// the workers first, then the main window (its event view writes the run log, so the last
// outcomes are in it), the document and the application object.
class CWindowed : public QObject
{
    Q_OBJECT

public:
    explicit CWindowed(QObject* parent = nullptr);
    ~CWindowed() override;

    // Runs the start-up and shows the main window. Returns false when the termination
    // signals cannot be caught (the program runs all the same).
    bool Start(const QString& settingsFile = QString(), const ListenerTiming& timing = {});
    // The orderly end after the main window accepted its close; finished follows.
    void Finish();

    CGatewayApp& App() { return *m_app; }
    CDoc& Doc() { return *m_doc; }
    // The main window, or null once the program has finished.
    CMainFrame* Frame() { return m_frame.get(); }

signals:
    void finished();

private:
    std::unique_ptr<CGatewayApp> m_app;
    std::unique_ptr<CDoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
    TerminationSignals* m_signals = nullptr;
    bool m_finished = false;
};

// The windowed program: QApplication, the instance lock (a second start shows "Another
// Zunaro.exe is running!" and returns 1), then CWindowed until the confirmed tray Exit or a
// termination signal. Returns the exit status.
int RunWindowed(int& argc, char** argv, const QString& settingsFile);
