// Path clean-up for the paths the adding operations compose.
#pragma once

#include "Files.h"

#include <QString>

namespace pradelux {

// Reduces each pair of separators to one in a single pass (three become two).
// A path that starts with separators gets a fixed head: two in the Windows
// style (a network path keeps its prefix), one in the POSIX style.
QString CollapseBackslashes(const QString& path, PathStyle style = kNativePathStyle);

} // namespace pradelux
