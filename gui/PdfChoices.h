// The window's choices of what its PDFs hold and how they are made, kept
// with its settings by the names the PDF printer gives them, and the dialog
// that changes them (Ctrl+Shift+P, or the window's context menu).
#pragma once

#include "PdfSettings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace pradelux {

class SettingsStore;

namespace settings {
// "0": the window leaves out the slides a presentation hides.
inline const QString kHiddenSlides = QStringLiteral("HiddenSlides");
} // namespace settings

// What the settings say: the printer's settings, whether hidden slides are
// printed, and whether every row gets a LibreOffice of its own.
struct WindowPdfChoices
{
    PdfSettings pdf;
    bool hiddenSlides = true;
    bool isolateRows = true;
};
WindowPdfChoices ReadPdfChoices(const SettingsStore& settings);

class PdfChoicesDialog : public QDialog
{
    Q_OBJECT
public:
    PdfChoicesDialog(SettingsStore& settings, QWidget* parent = nullptr);

    // Keeps the choices unless LibreOffice would refuse them or make them
    // otherwise; then says why in the dialog and stays open.
    void accept() override;

    QCheckBox* tagged;
    QComboBox* pdfa;
    QCheckBox* pdfua;
    QCheckBox* hiddenSlides;
    QSpinBox* imageDpi;
    QSpinBox* jpegQuality;
    QCheckBox* lossless;
    QCheckBox* isolateRows;
    QLabel* problem;

private:
    SettingsStore& m_settings;
};

} // namespace pradelux
