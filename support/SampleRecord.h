// The record of the sample files kept in the settings: the paths joined with
// "|", scrambled with a key of ours so that it does not read as a list of paths.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace pradelux {

inline const QString kScrambleKey = QStringLiteral("morvanek");

// Shifts each byte of the text's UTF-8 form by the next key letter, wrapping
// within 1 to 255, so every path round-trips whatever its letters and length.
// yield lets the window work during long texts.
QString ScrambleText(const QString& text, const QString& key, const std::function<void()>& yield = {});
QString UnscrambleText(const QString& text, const QString& key, const std::function<void()>& yield = {});

} // namespace pradelux
