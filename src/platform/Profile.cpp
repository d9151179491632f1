#include "platform/Profile.h"

#include <QSettings>

#include "platform/ProfileKeys.h"

namespace {

QSettings OpenProfile()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Zunaro"),
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
    const QVariant v = OpenProfile().value(Path(section, key));
    return v.isValid() ? v.toString() : def;
}

bool WriteProfileInt(const QString& section, const QString& key, int value)
{
    QSettings s = OpenProfile();
    s.setValue(Path(section, key), value);
    return Flush(s);
}

bool WriteProfileString(const QString& section, const QString& key, const QString& value)
{
    QSettings s = OpenProfile();
    s.setValue(Path(section, key), value);
    return Flush(s);
}

bool DeleteProfileValue(const QString& section, const QString& key)
{
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
    return OpenProfile().fileName();
}
