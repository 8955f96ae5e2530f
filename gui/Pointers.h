// Mouse pointers from cursor and icon files.
#pragma once

#include <QCursor>
#include <QString>
#include <optional>

namespace pradelux {

// A pointer from a ".cur" or ".ico" file, with the hot spot that the file
// names (a ".ico" file has its hot spot in the middle). Nothing when the file
// cannot be read.
std::optional<QCursor> LoadPointerFile(const QString& path);

} // namespace pradelux
