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

namespace {
// Unicode's blocks of the scripts decks are written in most, with the
// package of those the program depends on that covers each.
struct Block
{
    char32_t first;
    char32_t last;
    const char* script;
    const char* package;
};
constexpr Block kBlocks[] = {
    {0x0370, 0x03ff, "Greek", "fonts-noto-core"},
    {0x0400, 0x052f, "Cyrillic", "fonts-noto-core"},
    {0x0530, 0x058f, "Armenian", "fonts-noto-core"},
    {0x0590, 0x05ff, "Hebrew", "fonts-noto-core"},
    {0x0600, 0x06ff, "Arabic", "fonts-noto-core"},
    {0x0700, 0x074f, "Syriac", "fonts-noto-core"},
    {0x0750, 0x077f, "Arabic", "fonts-noto-core"},
    {0x0780, 0x07bf, "Thaana", "fonts-noto-core"},
    {0x08a0, 0x08ff, "Arabic", "fonts-noto-core"},
    {0x0900, 0x097f, "Devanagari", "fonts-noto-core"},
    {0x0980, 0x09ff, "Bengali", "fonts-noto-core"},
    {0x0a00, 0x0a7f, "Gurmukhi", "fonts-noto-core"},
    {0x0a80, 0x0aff, "Gujarati", "fonts-noto-core"},
    {0x0b00, 0x0b7f, "Oriya", "fonts-noto-core"},
    {0x0b80, 0x0bff, "Tamil", "fonts-noto-core"},
    {0x0c00, 0x0c7f, "Telugu", "fonts-noto-core"},
    {0x0c80, 0x0cff, "Kannada", "fonts-noto-core"},
    {0x0d00, 0x0d7f, "Malayalam", "fonts-noto-core"},
    {0x0d80, 0x0dff, "Sinhala", "fonts-noto-core"},
    {0x0e00, 0x0e7f, "Thai", "fonts-noto-core"},
    {0x0e80, 0x0eff, "Lao", "fonts-noto-core"},
    {0x0f00, 0x0fff, "Tibetan", "fonts-noto-core"},
    {0x1000, 0x109f, "Myanmar", "fonts-noto-core"},
    {0x10a0, 0x10ff, "Georgian", "fonts-noto-core"},
    {0x1100, 0x11ff, "Korean", "fonts-noto-cjk"},
    {0x1200, 0x139f, "Ethiopic", "fonts-noto-core"},
    {0x1780, 0x17ff, "Khmer", "fonts-noto-core"},
    {0x2e80, 0x2fdf, "Chinese", "fonts-noto-cjk"},
    {0x3000, 0x303f, "Chinese, Japanese and Korean punctuation", "fonts-noto-cjk"},
    {0x3040, 0x309f, "Japanese (Hiragana)", "fonts-noto-cjk"},
    {0x30a0, 0x30ff, "Japanese (Katakana)", "fonts-noto-cjk"},
    {0x3100, 0x312f, "Bopomofo", "fonts-noto-cjk"},
    {0x3130, 0x318f, "Korean", "fonts-noto-cjk"},
    {0x3400, 0x4dbf, "Chinese", "fonts-noto-cjk"},
    {0x4e00, 0x9fff, "Chinese", "fonts-noto-cjk"},
    {0xa960, 0xa97f, "Korean", "fonts-noto-cjk"},
    {0xac00, 0xd7ff, "Korean", "fonts-noto-cjk"},
    {0xf900, 0xfaff, "Chinese", "fonts-noto-cjk"},
    {0xfb50, 0xfdff, "Arabic", "fonts-noto-core"},
    {0xfe70, 0xfeff, "Arabic", "fonts-noto-core"},
    {0xff00, 0xffef, "Chinese, Japanese and Korean full-width forms", "fonts-noto-cjk"},
    {0x1f000, 0x1faff, "emoji and pictographs", "fonts-symbola"},
    {0x20000, 0x3134f, "Chinese", "fonts-noto-cjk"},
};

} // namespace

QString LetterCode(char32_t letter)
{
    return QStringLiteral("U+%1").arg(static_cast<uint>(letter), 4, 16, QLatin1Char('0')).toUpper();
}

LetterScript ScriptOf(char32_t letter)
{
    for (const Block& b : kBlocks) {
        if (letter >= b.first && letter <= b.last)
            return {QLatin1String(b.script), QLatin1String(b.package)};
    }
    return {};
}

QString LackingWarning(const QList<char32_t>& lacking)
{
    const auto told = [](char32_t letter, bool package) {
        const LetterScript where = ScriptOf(letter);
        QString text = LetterCode(letter);
        if (!where.script.isEmpty())
            text += QStringLiteral(" (") + where.script +
                    (package ? QStringLiteral("; ") + where.package + QStringLiteral(" has it") : QString()) +
                    QLatin1Char(')');
        return text;
    };
    if (lacking.size() == 1)
        return QStringLiteral("no installed font has %1: it prints as an empty box").arg(told(lacking[0], true));
    QStringList letters;
    QStringList packages;
    for (const char32_t c : lacking) {
        letters << told(c, false);
        const QString package = ScriptOf(c).package;
        if (!package.isEmpty() && !packages.contains(package))
            packages << package;
    }
    return letters.isEmpty()
               ? QString()
               : QStringLiteral("no installed font has these letters, which print as empty boxes: ") +
                     letters.join(QStringLiteral(", ")) +
                     (packages.isEmpty()
                          ? QString()
                          : QStringLiteral(" (") + packages.join(QStringLiteral(", ")) +
                                (packages.size() == 1 ? QStringLiteral(" has them)") : QStringLiteral(" have them)")));
}

QString FontWarning(const QList<pdfprinter::StandInFont>& standIns, const QList<char32_t>& lacking)
{
    QStringList said{StandInWarning(standIns), LackingWarning(lacking)};
    said.removeAll(QString());
    return said.join(QStringLiteral("; "));
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
