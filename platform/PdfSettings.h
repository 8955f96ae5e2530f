// How the PDF printer makes a PDF: its own settings, kept with its other
// values (beside OutputFile and BypassSaveAs) and read for each job.
#pragma once

#include "Registry.h"

#include <QList>
#include <QString>
#include <functional>

namespace pradelux {

struct PdfSettings
{
    bool tagged = true;          // structure tags, which screen readers follow
    int pdfa = 0;                // PDF/A-1b, 2b or 3b; 0: none
    bool pdfua = false;          // PDF/UA (tagged)
    int imageDpi = 0;            // images reduced to this resolution; 0: kept
    int jpegQuality = 0;         // 1 to 100; 0: the filter's own
    bool losslessImages = false; // images kept without loss
    bool linkedPictures = true;  // pictures the presentation links beside it printed
    bool operator==(const PdfSettings&) const = default;
};

namespace pdfsettings {
// The values a number may take besides 0 (none, kept, the filter's own),
// the same wherever it is given or read.
struct Range
{
    int low;
    int high;
    bool holds(int n) const { return n == 0 || (n >= low && n <= high); }
};
inline constexpr Range kPdfARange{1, 3};
inline constexpr Range kImageDpiRange{50, 2400};
inline constexpr Range kJpegQualityRange{1, 100};

inline const QString kTagged = QStringLiteral("TaggedPdf");
inline const QString kPdfA = QStringLiteral("PdfA");
inline const QString kPdfUA = QStringLiteral("PdfUA");
inline const QString kImageResolution = QStringLiteral("ImageResolution");
inline const QString kJpegQuality = QStringLiteral("JpegQuality");
inline const QString kLosslessImages = QStringLiteral("LosslessImages");
inline const QString kLinkedPictures = QStringLiteral("LinkedPictures");

// The settings given to set by their names (the printer's in the registry,
// the window's in its settings).
inline void Write(const std::function<void(const QString& name, const QString& value)>& set, const PdfSettings& s)
{
    const auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    set(kTagged, flag(s.tagged));
    set(kPdfA, QString::number(s.pdfa));
    set(kPdfUA, flag(s.pdfua));
    set(kImageResolution, QString::number(s.imageDpi));
    set(kJpegQuality, QString::number(s.jpegQuality));
    set(kLosslessImages, flag(s.losslessImages));
    set(kLinkedPictures, flag(s.linkedPictures));
}

// The settings that value gives by their names (the printer's in the
// registry, the window's in its settings); one missing or out of its range
// keeps its default.
inline PdfSettings Parse(const std::function<QString(const QString& name)>& value)
{
    PdfSettings s;
    const auto number = [&](const QString& name, Range range) {
        bool ok = false;
        const int n = value(name).toInt(&ok);
        return ok && range.holds(n) ? n : 0;
    };
    const auto flag = [&](const QString& name, bool fallback) {
        const QString text = value(name);
        return text == QLatin1String("1") ? true : text == QLatin1String("0") ? false : fallback;
    };
    s.tagged = flag(kTagged, s.tagged);
    s.pdfa = number(kPdfA, kPdfARange);
    s.pdfua = flag(kPdfUA, false);
    s.imageDpi = number(kImageResolution, kImageDpiRange);
    s.jpegQuality = number(kJpegQuality, kJpegQualityRange);
    s.losslessImages = flag(kLosslessImages, false);
    s.linkedPictures = flag(kLinkedPictures, true);
    return s;
}

inline PdfSettings Read(const Registry& registry, const QString& subKey)
{
    return Parse([&](const QString& name) { return registry.readString(subKey, name).value_or(QString()); });
}
// Combinations LibreOffice refuses or quietly makes otherwise, which no
// front end passes on.
enum class Conflict {
    UaWithPdfA1,       // PDF/A-1 allows no PDF/UA
    UaWithoutTags,     // PDF/UA is tagged
    PdfAWithoutTags,   // LibreOffice tags every PDF/A
    QualityButLossless // no JPEG to give a quality
};
inline QList<Conflict> Conflicts(const PdfSettings& s)
{
    QList<Conflict> found;
    if (s.pdfua && s.pdfa == 1)
        found << Conflict::UaWithPdfA1;
    if (s.pdfua && !s.tagged)
        found << Conflict::UaWithoutTags;
    if (s.pdfa > 0 && !s.tagged)
        found << Conflict::PdfAWithoutTags;
    if (s.losslessImages && s.jpegQuality > 0)
        found << Conflict::QualityButLossless;
    return found;
}
} // namespace pdfsettings

} // namespace pradelux
