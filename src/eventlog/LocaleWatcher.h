#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

// Stands in for the platform's settings-changed broadcast: watches the profile file and,
// when the regional settings in it change, reads them again and says so, so that whatever
// shows dates and times repaints with the new formats. One per process, living on the
// thread that created it (the user-interface thread).
class CLocaleWatcher : public QObject
{
    Q_OBJECT

public:
    // Creates the watcher once and reads the settings; a second call returns the existing
    // one. Call it at start-up, on the user-interface thread, after the QCoreApplication.
    static CLocaleWatcher* CreateLocaleWatcher();
    // The watcher, or null before CreateLocaleWatcher (or after the application is gone).
    static CLocaleWatcher* Instance();

signals:
    // The settings were read again and differ from the earlier ones.
    void localeChanged();

private:
    explicit CLocaleWatcher(QObject* parent);
    void Arm();
    void Reread();

    QFileSystemWatcher m_watcher;
    QTimer m_settle; // one re-read per burst of file notifications
};
