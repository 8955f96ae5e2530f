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

} // namespace pradelux
