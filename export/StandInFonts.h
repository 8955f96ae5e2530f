// The fonts a presentation asked for that were printed in others: which of
// those others keep every letter's width (metric twins), and what a run
// says of the rest.
#pragma once

#include "PdfPrinter.h"

#include <QList>
#include <QString>

namespace pradelux {

// Whether printed lays text out exactly as requested would: a font made with
// the same width for every letter. Lines break where their author saw them.
bool IsMetricTwin(const QString& requested, const QString& printed);

// The stand-ins of standIns that are no metric twins.
QList<pdfprinter::StandInFont> ReflowingStandIns(const QList<pdfprinter::StandInFont>& standIns);

// What is said of a presentation whose fonts stood in with other widths:
// ""Segoe UI" is not installed; "Noto Sans" printed it: lines may wrap
// differently", or for several the pairs in a list; empty when every
// stand-in was a metric twin.
QString StandInWarning(const QList<pdfprinter::StandInFont>& standIns);

// The writing system a letter belongs to, and the Debian font package that
// has its letters, where it is one of those that print the scripts decks
// are written in; empty where not known.
struct LetterScript
{
    QString script;
    QString package;
};
LetterScript ScriptOf(char32_t letter);
// How a letter is named by its code point: "U+0F00".
QString LetterCode(char32_t letter);

// What is said of a presentation with letters that no installed font has:
// "no installed font has U+0F00 (Tibetan; fonts-noto-core has it): it
// prints as an empty box", or for several the letters in a list; empty
// for none.
QString LackingWarning(const QList<char32_t>& lacking);

// What a row's PDF says of its fonts, "; " between: the stand-ins' and
// the lacking letters' warnings.
QString FontWarning(const QList<pdfprinter::StandInFont>& standIns, const QList<char32_t>& lacking);

} // namespace pradelux
