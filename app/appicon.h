#pragma once

#include <QIcon>

/// The icon theme name the desktop entry and the installed icons use.
inline constexpr const char *kApplicationIconName = "io.github.qvscan.QVScan";

/// @brief The application's icon: the installed icon theme's when it has one, otherwise the copy
/// built into the program (48 and 256 px), so a window started from the build tree has it too.
QIcon applicationIcon();
