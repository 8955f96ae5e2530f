// Path clean-up for the paths the adding operations compose.
#pragma once

#include <QString>

namespace pradelux {

enum class PathStyle { Windows, Posix };
#ifdef Q_OS_WIN
constexpr PathStyle kNativePathStyle = PathStyle::Windows;
constexpr QChar kSeparator = u'\\';
#else
constexpr PathStyle kNativePathStyle = PathStyle::Posix;
constexpr QChar kSeparator = u'/';
#endif

// Reduces each pair of separators to one in a single pass (three become two).
// A path that starts with separators gets a fixed head: two in the Windows
// style (a network path keeps its prefix), one in the POSIX style.
QString CollapseBackslashes(const QString& path, PathStyle style = kNativePathStyle);

} // namespace pradelux
