// The dialog that changes the window's PDF choices (Ctrl+Shift+P, or the
// window's context menu).
#pragma once

#include "WindowChoices.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace pradelux {

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
    QComboBox* printed;
    QLineEdit* slides;
    QSpinBox* imageDpi;
    QSpinBox* jpegQuality;
    QCheckBox* lossless;
    QCheckBox* isolateRows;
    QLabel* problem;

private:
    SettingsStore& m_settings;
};

} // namespace pradelux
