// What the presentation application prints of a presentation: its print
// options' OutputType, and the slides its RangeType and Ranges name, as a
// run sets them and the application reads them.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace pradelux::printoutput {

inline constexpr qint16 kSlides = 1;     // the slides, as PowerPoint prints them
inline constexpr qint16 kNotesPages = 5; // each slide above its notes
// The slides, then their notes pages, in one job: an output type of this
// application's own, above PowerPoint's.
inline constexpr qint16 kSlidesThenNotesPages = 101;

inline constexpr qint32 kRangeAll = 1;    // every slide
inline constexpr qint32 kRangeSlides = 4; // the slides the print options' Ranges name

struct SlideRange
{
    int start = 1;
    int end = 1;
};

// The highest slide number a range may name.
inline constexpr int kLastSlide = 99999;

// "1-3,7" as ranges, in the order given; on a wrong list, none, and why says
// what is wrong in words.
inline QList<SlideRange> ParseSlides(const QString& text, QString* why)
{
    QList<SlideRange> ranges;
    const auto number = [](const QString& piece, int* into) {
        bool ok = false;
        *into = piece.trimmed().toInt(&ok);
        return ok && !piece.trimmed().startsWith(QLatin1Char('+')) && *into >= 1 && *into <= kLastSlide;
    };
    for (const QString& piece : text.split(QLatin1Char(','))) {
        const QStringList ends = piece.split(QLatin1Char('-'));
        SlideRange r;
        if (ends.size() > 2 || !number(ends.first(), &r.start) || !number(ends.last(), &r.end)) {
            *why = QStringLiteral("\"%1\" is neither a slide number from 1 to %2 nor a range of them like 2-5")
                       .arg(piece.trimmed())
                       .arg(kLastSlide);
            return {};
        }
        if (r.end < r.start) {
            *why = QStringLiteral("the range %1 ends before it starts").arg(piece.trimmed());
            return {};
        }
        ranges << r;
    }
    return ranges;
}

// The slide the last range to start starts at; 0 for none.
inline int HighestStart(const QList<SlideRange>& ranges)
{
    int highest = 0;
    for (const SlideRange& r : ranges)
        highest = qMax(highest, r.start);
    return highest;
}

// The ranges as a list like "1-3,7", which is also LibreOffice's page range.
inline QString SlidesText(const QList<SlideRange>& ranges)
{
    QStringList pieces;
    for (const SlideRange& r : ranges)
        pieces << (r.start == r.end ? QString::number(r.start) : QStringLiteral("%1-%2").arg(r.start).arg(r.end));
    return pieces.join(QLatin1Char(','));
}

} // namespace pradelux::printoutput
