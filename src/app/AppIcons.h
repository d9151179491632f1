#pragma once

#include <QIcon>
#include <QStyle>

// The one place the window's pictures come from: the program's own artwork
// ":/icons/<name>.svg" when it is built in, else the style's standard icon.
QIcon AppIcon(const char* name, QStyle::StandardPixmap fallback);
