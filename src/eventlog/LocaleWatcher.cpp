#include "eventlog/LocaleWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include "eventlog/LocaleTime.h"
#include "platform/Logging.h"
#include "platform/Profile.h"

namespace {

// Written once on the user-interface thread; QPointer clears it when the application (its
// parent) goes away.
QPointer<CLocaleWatcher> g_watcher;

// A save of the profile may rewrite the file several times in a row.
constexpr int kSettleMs = 50;

bool SameTexts(const LocaleSettings& a, const LocaleSettings& b)
{
    return a.dateOrder == b.dateOrder && a.clock == b.clock &&
           a.hourLeadingZero == b.hourLeadingZero && a.dateSeparator == b.dateSeparator &&
           a.timeSeparator == b.timeSeparator && a.shortDate == b.shortDate &&
           a.morning == b.morning && a.afternoon == b.afternoon;
}

} // namespace

CLocaleWatcher* CLocaleWatcher::CreateLocaleWatcher()
{
    if (!g_watcher) {
        g_watcher = new CLocaleWatcher(QCoreApplication::instance());
        CLocaleTime::ReadLocaleSettings();
    }
    return g_watcher;
}

CLocaleWatcher* CLocaleWatcher::Instance()
{
    return g_watcher;
}

CLocaleWatcher::CLocaleWatcher(QObject* parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &CLocaleWatcher::Reread);
    // The profile is replaced rather than rewritten in place by some editors, which ends a
    // watch on the file itself; the folder's watch notices the new file.
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_settle, qOverload<>(&QTimer::start));
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_settle,
            qOverload<>(&QTimer::start));
    Arm();
}

void CLocaleWatcher::Arm()
{
    const QString file = ProfilePath();
    const QString folder = QFileInfo(file).absolutePath();
    QDir().mkpath(folder);
    if (!m_watcher.directories().contains(folder)) {
        m_watcher.addPath(folder);
    }
    if (QFileInfo::exists(file) && !m_watcher.files().contains(file)) {
        m_watcher.addPath(file);
    }
}

void CLocaleWatcher::Reread()
{
    Arm();
    const LocaleSettings before = CLocaleTime::Settings();
    CLocaleTime::ReadLocaleSettings();
    if (!SameTexts(before, CLocaleTime::Settings())) {
        qCDebug(lcEventLog) << "regional settings changed";
        emit localeChanged();
    }
}
