// The window's choices of what its PDFs hold and how they are made, kept
// with its settings by the names the PDF printer gives them; the command
// line takes them when asked (--window-choices).
#pragma once

#include "PdfSettings.h"
#include "SettingsStore.h"

namespace pradelux {

namespace settings {
// "0": the window leaves out the slides a presentation hides.
inline const QString kHiddenSlides = QStringLiteral("HiddenSlides");
} // namespace settings

struct WindowPdfChoices
{
    PdfSettings pdf;
    bool hiddenSlides = true;
    bool isolateRows = true;
};

inline WindowPdfChoices ReadPdfChoices(const SettingsStore& settings)
{
    WindowPdfChoices choices;
    choices.pdf = pdfsettings::Parse([&](const QString& name) { return settings.ReadSetting(name, QString()); });
    choices.hiddenSlides = settings.ReadSetting(settings::kHiddenSlides, QString()) != QLatin1String("0");
    choices.isolateRows = settings.ReadSetting(settings::kIsolateRows, QString()) != QLatin1String("0");
    return choices;
}

} // namespace pradelux
