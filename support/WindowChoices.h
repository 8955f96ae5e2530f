// What a run's PDFs hold and how they are made. The window keeps its choices
// with its settings, by the names the PDF printer gives them; the command
// line has its options, and takes the window's when asked (--window-choices).
#pragma once

#include "PdfSettings.h"
#include "PrintOutput.h"
#include "SettingsStore.h"

namespace pradelux {

namespace settings {
// "0": the window leaves out the slides a presentation hides.
inline const QString kHiddenSlides = QStringLiteral("HiddenSlides");
// What is printed: "slides" (or nothing), "slides-and-notes", "notes".
inline const QString kPrintedPages = QStringLiteral("PrintedPages");
// The slides printed, as "1-3,7"; empty: every one.
inline const QString kSlideRanges = QStringLiteral("SlideRanges");
} // namespace settings

struct PrintChoices
{
    // Each setting's default is the window's.
    PdfSettings pdf = {};
    bool hiddenSlides = true;
    bool isolateRows = true;
    qint16 output = printoutput::kSlides;
    QList<printoutput::SlideRange> slides = {}; // none: every slide
};

inline QString PrintedPagesName(qint16 output)
{
    return output == printoutput::kNotesPages             ? QStringLiteral("notes")
           : output == printoutput::kSlidesThenNotesPages ? QStringLiteral("slides-and-notes")
                                                          : QStringLiteral("slides");
}

inline PrintChoices ReadPdfChoices(const SettingsStore& settings)
{
    PrintChoices choices;
    choices.pdf = pdfsettings::Parse([&](const QString& name) { return settings.ReadSetting(name, QString()); });
    choices.hiddenSlides = settings.ReadSetting(settings::kHiddenSlides, QString()) != QLatin1String("0");
    choices.isolateRows = settings.ReadSetting(settings::kIsolateRows, QString()) != QLatin1String("0");
    const QString printed = settings.ReadSetting(settings::kPrintedPages, QString());
    for (const qint16 output : {printoutput::kNotesPages, printoutput::kSlidesThenNotesPages}) {
        if (printed == PrintedPagesName(output))
            choices.output = output;
    }
    // A list edited by hand into one that is not valid prints every slide.
    QString why;
    const QString ranges = settings.ReadSetting(settings::kSlideRanges, QString()).trimmed();
    if (!ranges.isEmpty())
        choices.slides = printoutput::ParseSlides(ranges, &why);
    return choices;
}

} // namespace pradelux
