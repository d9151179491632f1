#pragma once

#include <memory>

#include <QString>

#include "capture/RawPrintServer.h"
#include "eventlog/EventRecord.h"

class CDoc;
class CGatewayApp;
class QLockFile;

// Marks the one running Zunaro of this user: the lock file "Zunaro.lock" in the runtime
// folder, held for the program's lifetime. The lock of a process that died is taken over.
class CInstanceLock
{
public:
    CInstanceLock();
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // True when this process now holds the lock; false while another live Zunaro holds it
    // (or the runtime folder cannot hold the file: error tells which).
    bool TryLock(QString* error = nullptr);
    // Full path of the lock file.
    static QString Path();

private:
    std::unique_ptr<QLockFile> m_lock;
};

// The event line that tells which settings file the start-up opened (posted at the first
// activation of the main window, at once by the headless program).
struct SettingsLoadReport
{
    bool any = false; // false: nothing to report (a new document, no recent file)
    EventType type = EventType::Information;
    QString text;
};

// The start-up shared by the windowed and the headless program, after the instance lock:
// creates the data folder, opens the settings file (commandLineFile, else the recent file
// when it exists, else the first "*.znr" of the data folder, else a new document), then
// starts the print listener and the mail and speech workers, in that order, so the
// recipients are loaded before any print data can arrive. Returns the load report.
SettingsLoadReport InitInstance(CGatewayApp& app, CDoc& doc, const QString& commandLineFile,
                                const ListenerTiming& timing = {});

// The text for a refused second start ("Another Zunaro.exe is running!").
QString SecondInstanceText();
