#include "app/Startup.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#include "app/GatewayApp.h"
#include "platform/Folders.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "settings/Document.h"
#include "settings/SettingsDoc.h"

namespace {

} // namespace

CInstanceLock::CInstanceLock() = default;

CInstanceLock::~CInstanceLock() = default;

QString CInstanceLock::Path()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return folder + QStringLiteral("/Zunaro.lock");
}

bool CInstanceLock::TryLock(QString* error)
{
    if (m_lock && m_lock->isLocked()) {
        return true;
    }
    m_lock = std::make_unique<QLockFile>(Path());
    // Never stale by age: a running Zunaro holds it for months. A dead holder's lock is
    // recognised by its process id and taken over.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        return true;
    }
    if (error) {
        *error = m_lock->error() == QLockFile::LockFailedError
                     ? SecondInstanceText()
                     : QStringLiteral("cannot create %1").arg(Path());
    }
    return false;
}

QString SecondInstanceText()
{
    return LoadString(kIdsAnotherInstance);
}

SettingsLoadReport InitInstance(CGatewayApp& app, CDoc& doc, const QString& commandLineFile,
                                const ListenerTiming& timing)
{
    DataFolder(); // created at start
    CRecentFileList recent;
    recent.Load();
    const QString recentFirst = recent.At(0);

    SettingsLoadReport report;
    const CDoc::StartupResult opened = doc.OpenAtStartup(commandLineFile);
    if (!opened.path.isEmpty()) {
        report = {true, opened.opened ? EventType::Information : EventType::Error,
                  FormatText(LoadString(opened.opened ? kIdsLoadSucceeded : kIdsLoadFailed),
                             {opened.path})};
    } else if (!recentFirst.isEmpty()) {
        // The recent file is gone and the data folder holds no other settings file.
        report = {true, EventType::Error, FormatText(LoadString(kIdsLoadFailed), {recentFirst})};
    }
    app.ResendOutbox();
    app.StartCapture(timing);
    app.StartWorkers();
    return report;
}
