#pragma once

#include <QString>

// The program's two folders: resources that ship with it, and the user's data.

// Folder of the running program file, without a trailing separator.
QString ProgramFolder();
// Folder of Lang/, Help/ and Ding.wav: $ZUNARO_RESOURCES when set, else
// <prefix>/share/zunaro when the program is installed in <prefix>/bin and that folder
// exists, else the program folder (a build tree).
QString ResourceFolder();
// The resource folder of a program living in programFolder, without $ZUNARO_RESOURCES:
// <prefix>/share/zunaro for a program in <prefix>/bin when that folder exists, else
// programFolder itself.
QString ResourceFolderFor(const QString& programFolder);
// Folder of the *.znr settings files and the run logs: $ZUNARO_HOME, else
// $XDG_DATA_HOME/Zunaro (~/.local/share/Zunaro). Created when missing; returns the path
// even when it cannot be created (later file operations then report the failure).
QString DataFolder();
