#pragma once

#include <QString>

struct ProfileIntKey;
struct ProfileStringKey;

// The user profile: sections and values under the root "Zunaro", kept in the INI file
// $XDG_CONFIG_HOME/Zunaro/Zunaro.conf through QSettings, with the same section and key
// names. Every call may come from any thread.

// Returns the integer stored under section/key, or def when it is missing or not a number.
int GetProfileInt(const QString& section, const QString& key, int def);
// Returns the text stored under section/key, or def when it is missing.
QString GetProfileString(const QString& section, const QString& key, const QString& def = {});
// Stores an integer. Returns false when the profile file cannot be written.
bool WriteProfileInt(const QString& section, const QString& key, int value);
// Stores a text. Returns false when the profile file cannot be written.
bool WriteProfileString(const QString& section, const QString& key, const QString& value);
// Removes section/key. Returns false when the profile file cannot be written.
bool DeleteProfileValue(const QString& section, const QString& key);

// The same through an entry of the key table (ProfileKeys.h), with its default.
int GetProfileInt(const ProfileIntKey& key);
QString GetProfileString(const ProfileStringKey& key);
bool WriteProfileInt(const ProfileIntKey& key, int value);
bool WriteProfileString(const ProfileStringKey& key, const QString& value);

// Full path of the profile file (it may not exist yet).
QString ProfilePath();
