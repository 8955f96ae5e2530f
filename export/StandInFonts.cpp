// The fonts that stood in for others.
#include "StandInFonts.h"

#include <QStringList>

namespace pradelux {

namespace {
// Fonts made to the widths of the fonts decks ask for, that Debian has:
// Liberation, Carlito and Caladea for Office's own, URW's for the
// PostScript fonts and their look-alikes (Century Gothic has the widths of
// ITC Avant Garde Gothic, Arial those of Helvetica, Book Antiqua those of
// Palatino), and two that Debian lacks but a user may have installed.
// LibreOffice names its own symbol font, OpenSymbol, StarSymbol too.
const char* const kTwins[][2] = {
    {"Calibri", "Carlito"},
    {"Cambria", "Caladea"},
    {"Arial", "Liberation Sans"},
    {"Arial", "Nimbus Sans"},
    {"Helvetica", "Liberation Sans"},
    {"Helvetica", "Nimbus Sans"},
    {"Arial Narrow", "Liberation Sans Narrow"},
    {"Arial Narrow", "Nimbus Sans Narrow"},
    {"Times New Roman", "Liberation Serif"},
    {"Times New Roman", "Nimbus Roman"},
    {"Times", "Liberation Serif"},
    {"Times", "Nimbus Roman"},
    {"Courier New", "Liberation Mono"},
    {"Courier New", "Nimbus Mono PS"},
    {"Courier", "Liberation Mono"},
    {"Courier", "Nimbus Mono PS"},
    {"Century Gothic", "URW Gothic"},
    {"ITC Avant Garde Gothic", "URW Gothic"},
    {"Book Antiqua", "P052"},
    {"Palatino Linotype", "P052"},
    {"Palatino", "P052"},
    {"Bookman Old Style", "URW Bookman"},
    {"Century Schoolbook", "C059"},
    {"Georgia", "Gelasio"},
    {"Segoe UI", "Selawik"},
    {"StarSymbol", "OpenSymbol"},
};
} // namespace

bool IsMetricTwin(const QString& requested, const QString& printed)
{
    for (const auto& twin : kTwins) {
        if (requested.compare(QLatin1String(twin[0]), Qt::CaseInsensitive) == 0 &&
            printed.compare(QLatin1String(twin[1]), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QList<pdfprinter::StandInFont> ReflowingStandIns(const QList<pdfprinter::StandInFont>& standIns)
{
    QList<pdfprinter::StandInFont> reflowing;
    for (const pdfprinter::StandInFont& s : standIns) {
        if (!IsMetricTwin(s.requested, s.printed))
            reflowing << s;
    }
    return reflowing;
}

QString StandInWarning(const QList<pdfprinter::StandInFont>& standIns)
{
    const QList<pdfprinter::StandInFont> reflowing = ReflowingStandIns(standIns);
    const auto quoted = [](const QString& name) { return QLatin1Char('"') + name + QLatin1Char('"'); };
    if (reflowing.size() == 1)
        return QStringLiteral("%1 is not installed; %2 printed it: lines may wrap differently")
            .arg(quoted(reflowing[0].requested), quoted(reflowing[0].printed));
    QStringList pairs;
    for (const pdfprinter::StandInFont& s : reflowing)
        pairs << quoted(s.requested) + QStringLiteral(" in ") + quoted(s.printed);
    return pairs.isEmpty() ? QString()
                           : QStringLiteral("fonts that are not installed were printed in others of other widths, so "
                                            "lines may wrap differently: ") +
                                 pairs.join(QStringLiteral(", "));
}

} // namespace pradelux
