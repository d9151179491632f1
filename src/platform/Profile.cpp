#include "platform/Profile.h"

#include <mutex>

#include <QIODevice>
#include <QMap>
#include <QPair>
#include <QSettings>

#include "platform/ProfileKeys.h"

namespace {

// The profile file is a plain INI file that users may edit by hand: a value is
// the text after '=' as it stands (commas, semicolons and backslashes included), trimmed,
// with one pair of surrounding double quotes removed. Qt's own INI format would read
// "dddd, MMMM d, yyyy" as a list and ";" as a comment.
bool ReadProfileFile(QIODevice& device, QSettings::SettingsMap& map)
{
    QString section;
    const QList<QByteArray> lines = device.readAll().split('\n');
    for (const QByteArray& raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#')) {
            continue;
        }
        if (line.startsWith(u'[')) {
            const qsizetype end = line.indexOf(u']');
            if (end > 0) {
                section = line.mid(1, end - 1).trimmed();
            }
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0) {
            continue;
        }
        const QString key = line.left(eq).trimmed();
        QString value = line.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"')) {
            value = value.mid(1, value.size() - 2);
        }
        map.insert(section.isEmpty() ? key : section + u'/' + key, value);
    }
    return true;
}

bool WriteProfileFile(QIODevice& device, const QSettings::SettingsMap& map)
{
    QMap<QString, QList<QPair<QString, QString>>> sections;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(u'/');
        const QString section = slash < 0 ? QString() : it.key().left(slash);
        const QString key = slash < 0 ? it.key() : it.key().mid(slash + 1);
        QString value = it.value().toString();
        value.replace(u'\r', u' ').replace(u'\n', u' ');
        if (value != value.trimmed() || (value.startsWith(u'"') && value.endsWith(u'"'))) {
            value = u'"' + value + u'"';
        }
        sections[section].append({key, value});
    }
    QByteArray out;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        if (!out.isEmpty()) {
            out += '\n';
        }
        if (!it.key().isEmpty()) {
            out += '[' + it.key().toUtf8() + "]\n";
        }
        for (const auto& [key, value] : it.value()) {
            out += key.toUtf8() + '=' + value.toUtf8() + '\n';
        }
    }
    return device.write(out) == out.size();
}

// Profile access is rare; one lock over every read and write keeps the file consistent
// across threads without relying on QSettings' own process-wide cache.
std::recursive_mutex g_profileLock;

QSettings OpenProfile()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("conf"), ReadProfileFile, WriteProfileFile);
    return QSettings(format, QSettings::UserScope, QStringLiteral("Zunaro"),
                     QStringLiteral("Zunaro"));
}

QString Path(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}

bool Flush(QSettings& settings)
{
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace

int GetProfileInt(const QString& section, const QString& key, int def)
{
    std::lock_guard lock(g_profileLock);
    const QVariant v = OpenProfile().value(Path(section, key));
    if (!v.isValid()) {
        return def;
    }
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok);
    return ok ? n : def;
}

QString GetProfileString(const QString& section, const QString& key, const QString& def)
{
    std::lock_guard lock(g_profileLock);
    const QVariant v = OpenProfile().value(Path(section, key));
    return v.isValid() ? v.toString() : def;
}

bool WriteProfileInt(const QString& section, const QString& key, int value)
{
    std::lock_guard lock(g_profileLock);
    QSettings s = OpenProfile();
    s.setValue(Path(section, key), value);
    return Flush(s);
}

bool WriteProfileString(const QString& section, const QString& key, const QString& value)
{
    std::lock_guard lock(g_profileLock);
    QSettings s = OpenProfile();
    s.setValue(Path(section, key), value);
    return Flush(s);
}

bool DeleteProfileValue(const QString& section, const QString& key)
{
    std::lock_guard lock(g_profileLock);
    QSettings s = OpenProfile();
    s.remove(Path(section, key));
    return Flush(s);
}

int GetProfileInt(const ProfileIntKey& key)
{
    return GetProfileInt(QString::fromLatin1(key.section), QString::fromLatin1(key.key),
                         key.defaultValue);
}

QString GetProfileString(const ProfileStringKey& key)
{
    return GetProfileString(QString::fromLatin1(key.section), QString::fromLatin1(key.key),
                            QString::fromUtf8(key.defaultValue));
}

bool WriteProfileInt(const ProfileIntKey& key, int value)
{
    return WriteProfileInt(QString::fromLatin1(key.section), QString::fromLatin1(key.key), value);
}

bool WriteProfileString(const ProfileStringKey& key, const QString& value)
{
    return WriteProfileString(QString::fromLatin1(key.section), QString::fromLatin1(key.key),
                              value);
}

QString ProfilePath()
{
    std::lock_guard lock(g_profileLock);
    return OpenProfile().fileName();
}
