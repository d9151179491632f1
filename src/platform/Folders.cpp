#include "platform/Folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString ProgramFolder()
{
    // /proc/self/exe works without a QCoreApplication (tests, early start-up).
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    return QFileInfo(exe.canonicalFilePath()).absolutePath();
}

QString ResourceFolder()
{
    const QString env = qEnvironmentVariable("ZUNARO_RESOURCES");
    if (!env.isEmpty()) {
        return QDir::cleanPath(env);
    }
    return ResourceFolderFor(ProgramFolder());
}

QString ResourceFolderFor(const QString& programFolder)
{
    const QString program = QDir::cleanPath(programFolder);
    if (QFileInfo(program).fileName() == QLatin1String("bin")) {
        const QString shared = QDir::cleanPath(program + QStringLiteral("/../share/zunaro"));
        if (QFileInfo(shared).isDir()) {
            return shared;
        }
    }
    return program;
}

QString DataFolder()
{
    QString folder = qEnvironmentVariable("ZUNARO_HOME");
    if (folder.isEmpty()) {
        QString base = qEnvironmentVariable("XDG_DATA_HOME");
        if (base.isEmpty()) {
            base = QDir::homePath() + QStringLiteral("/.local/share");
        }
        folder = base + QStringLiteral("/Zunaro");
    }
    folder = QDir::cleanPath(folder);
    QDir().mkpath(folder);
    return folder;
}
