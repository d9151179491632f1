#include "platform/Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "platform/StringIds.h"
#include "platform/StringTable.h"

namespace {

constexpr qint64 kMaxEntryLineBytes = 4096;

QString AutostartFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

} // namespace

QString AutostartFilePath()
{
    return AutostartFolder() + QStringLiteral("/Zunaro.desktop");
}

QString DesktopExecValue(const QString& program)
{
    // Characters that make an argument need quotes in an Exec line.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = program.isEmpty();
    for (const QChar c : program) {
        quote = quote || reserved.contains(c);
    }
    QString arg;
    for (const QChar c : program) {
        if (quote && (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                      c == QLatin1Char('\\'))) {
            arg += QLatin1Char('\\');
        }
        arg += c;
        if (c == QLatin1Char('%')) {
            arg += QLatin1Char('%'); // a field code otherwise
        }
    }
    if (quote) {
        arg = QLatin1Char('"') + arg + QLatin1Char('"');
    }
    // The value of a desktop entry key is itself a string with backslash escapes.
    arg.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return arg;
}

bool AutostartEnabled()
{
    QFile file(AutostartFilePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return false;
    }
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine(kMaxEntryLineBytes)).trimmed();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            continue;
        }
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if ((key == QLatin1String("Hidden") && value == QLatin1String("true")) ||
            (key == QLatin1String("X-GNOME-Autostart-enabled") &&
             value == QLatin1String("false"))) {
            return false;
        }
    }
    return true;
}

bool EnableAutostart(const QString& program, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error != nullptr) {
            *error = why;
        }
        return false;
    };
    const QString path = QFileInfo(program).absoluteFilePath();
    if (path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r'))) {
        return fail(FormatText(LoadString(kIdsAutostartBadPath), {path}));
    }
    if (!QDir().mkpath(AutostartFolder())) {
        return fail(FormatText(LoadString(kIdsAutostartCannotWrite),
                               {AutostartFilePath(), QStringLiteral("cannot create its folder")}));
    }
    QSaveFile file(AutostartFilePath());
    if (!file.open(QIODevice::WriteOnly)) {
        return fail(FormatText(LoadString(kIdsAutostartCannotWrite),
                               {file.fileName(), file.errorString()}));
    }
    const QString entry =
        QStringLiteral("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Zunaro\n"
                       "Comment=Alarm gateway: print jobs to SMS, e-mail and speech\n"
                       "Exec=%1\n"
                       "Icon=zunaro\n"
                       "Terminal=false\n"
                       "X-GNOME-Autostart-enabled=true\n")
            .arg(DesktopExecValue(path));
    file.write(entry.toUtf8());
    if (!file.commit()) {
        return fail(FormatText(LoadString(kIdsAutostartCannotWrite),
                               {file.fileName(), file.errorString()}));
    }
    return true;
}

bool DisableAutostart(QString* error)
{
    QFile file(AutostartFilePath());
    if (!QFileInfo::exists(file.fileName()) && !QFileInfo(file.fileName()).isSymLink()) {
        return true;
    }
    if (!file.remove()) {
        if (error != nullptr) {
            *error = FormatText(LoadString(kIdsAutostartCannotRemove),
                                {file.fileName(), file.errorString()});
        }
        return false;
    }
    return true;
}
