#pragma once

#include <QString>

// Logon start through the desktop's autostart folder: the entry
// $XDG_CONFIG_HOME/autostart/Zunaro.desktop starts the program when the user logs on.

// Returns the full path of the autostart entry (whether it exists or not).
QString AutostartFilePath();
// Returns true when the entry exists and the desktop has not been told to skip it
// (Hidden=true or X-GNOME-Autostart-enabled=false, as the desktop's own settings write).
bool AutostartEnabled();
// Writes the entry that starts program (made absolute) at logon, atomically: a failed write
// leaves any earlier entry as it was. Returns false and sets *error (when given) on failure.
bool EnableAutostart(const QString& program, QString* error);
// Removes the entry; a missing entry is success. Returns false and sets *error (when given)
// when it exists and cannot be removed.
bool DisableAutostart(QString* error);
// The Exec= value that starts program with no arguments: quoted when it holds a space or
// another reserved character, escaped for a desktop entry's string value.
QString DesktopExecValue(const QString& program);
