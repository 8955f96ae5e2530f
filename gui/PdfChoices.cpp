// The window's PDF choices.
#include "PdfChoices.h"

#include "SettingsStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace pradelux {

PdfChoicesDialog::PdfChoicesDialog(SettingsStore& settings, QWidget* parent) : QDialog(parent), m_settings(settings)
{
    setWindowTitle(QStringLiteral("PDF Options"));
    setAccessibleName(QStringLiteral("PDF Options"));
    setAccessibleDescription(QStringLiteral("What the PDFs hold and how they are made, kept for the next exports."));
    const PrintChoices now = ReadPdfChoices(settings);
    tagged = new QCheckBox(QStringLiteral("&Tags for screen readers (and the title)"), this);
    tagged->setChecked(now.pdf.tagged);
    pdfa = new QComboBox(this);
    pdfa->addItems(
        {QStringLiteral("No"), QStringLiteral("PDF/A-1"), QStringLiteral("PDF/A-2"), QStringLiteral("PDF/A-3")});
    pdfa->setCurrentIndex(now.pdf.pdfa);
    pdfua = new QCheckBox(QStringLiteral("PDF/&UA"), this);
    pdfua->setChecked(now.pdf.pdfua);
    hiddenSlides = new QCheckBox(QStringLiteral("Print &hidden slides"), this);
    hiddenSlides->setChecked(now.hiddenSlides);
    printed = new QComboBox(this);
    // In the order of their output types' names.
    for (const qint16 output : {printoutput::kSlides, printoutput::kSlidesThenNotesPages, printoutput::kNotesPages})
        printed->addItem(output == printoutput::kSlides                 ? QStringLiteral("The slides")
                         : output == printoutput::kSlidesThenNotesPages ? QStringLiteral("The slides, then notes pages")
                                                                        : QStringLiteral("Notes pages"),
                         PrintedPagesName(output));
    printed->setCurrentIndex(printed->findData(PrintedPagesName(now.output)));
    slides = new QLineEdit(printoutput::SlidesText(now.slides), this);
    slides->setPlaceholderText(QStringLiteral("all, or a list like 1-3,7"));
    imageDpi = new QSpinBox(this);
    imageDpi->setRange(0, pdfsettings::kImageDpiRange.high);
    imageDpi->setSpecialValueText(QStringLiteral("as they are"));
    imageDpi->setSuffix(QStringLiteral(" dpi"));
    imageDpi->setValue(now.pdf.imageDpi);
    jpegQuality = new QSpinBox(this);
    jpegQuality->setRange(0, pdfsettings::kJpegQualityRange.high);
    jpegQuality->setSpecialValueText(QStringLiteral("LibreOffice's own"));
    jpegQuality->setValue(now.pdf.jpegQuality);
    lossless = new QCheckBox(QStringLiteral("Images without &loss"), this);
    lossless->setChecked(now.pdf.losslessImages);
    isolateRows = new QCheckBox(QStringLiteral("A LibreOffice of its own for &every presentation"), this);
    isolateRows->setChecked(now.isolateRows);
    problem = new QLabel(this);
    problem->setWordWrap(true);
    problem->setAccessibleName(QStringLiteral("Problem"));
    problem->hide();

    auto* form = new QFormLayout(this);
    form->addRow(tagged);
    form->addRow(QStringLiteral("PDF/&A for archives:"), pdfa);
    form->addRow(pdfua);
    form->addRow(hiddenSlides);
    form->addRow(QStringLiteral("&Print:"), printed);
    form->addRow(QStringLiteral("&Slides:"), slides);
    form->addRow(QStringLiteral("&Reduce images to:"), imageDpi);
    form->addRow(QStringLiteral("&JPEG quality:"), jpegQuality);
    form->addRow(lossless);
    form->addRow(isolateRows);
    form->addRow(problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &PdfChoicesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    // The labels name their fields for screen readers as well.
    for (QWidget* field : {static_cast<QWidget*>(pdfa), static_cast<QWidget*>(printed), static_cast<QWidget*>(slides),
                           static_cast<QWidget*>(imageDpi), static_cast<QWidget*>(jpegQuality)})
        if (auto* label = qobject_cast<QLabel*>(form->labelForField(field)))
            field->setAccessibleName(label->text().remove(QLatin1Char('&')).chopped(1));
}

void PdfChoicesDialog::accept()
{
    PdfSettings pdf;
    pdf.tagged = tagged->isChecked();
    pdf.pdfa = pdfa->currentIndex();
    pdf.pdfua = pdfua->isChecked();
    pdf.imageDpi = imageDpi->value() < pdfsettings::kImageDpiRange.low ? 0 : imageDpi->value();
    pdf.jpegQuality = jpegQuality->value();
    pdf.losslessImages = lossless->isChecked();
    QStringList why;
    using pdfsettings::Conflict;
    for (const Conflict conflict : pdfsettings::Conflicts(pdf)) {
        switch (conflict) {
        case Conflict::UaWithoutTags:
            why << QStringLiteral("PDF/UA needs the tags.");
            break;
        case Conflict::PdfAWithoutTags:
            why << QStringLiteral("LibreOffice tags every PDF/A: keep the tags, or choose no PDF/A.");
            break;
        case Conflict::UaWithPdfA1:
            why << QStringLiteral("PDF/A-1 allows no PDF/UA: choose PDF/A-2 or PDF/A-3.");
            break;
        case Conflict::QualityButLossless:
            why << QStringLiteral("Images without loss have no JPEG quality.");
            break;
        }
    }
    QString wrongSlides;
    const QString ranges = slides->text().trimmed();
    if (!ranges.isEmpty() && printoutput::ParseSlides(ranges, &wrongSlides).isEmpty())
        why << QStringLiteral("Slides: %1; leave it empty for every slide.").arg(wrongSlides);
    if (!why.isEmpty()) {
        problem->setText(why.join(QLatin1Char(' ')));
        problem->show();
        return;
    }
    pdfsettings::Write([&](const QString& name, const QString& value) { m_settings.WriteSetting(name, value); }, pdf);
    const auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    m_settings.WriteSetting(settings::kHiddenSlides, flag(hiddenSlides->isChecked()));
    m_settings.WriteSetting(settings::kIsolateRows, flag(isolateRows->isChecked()));
    m_settings.WriteSetting(settings::kPrintedPages, printed->currentData().toString());
    m_settings.WriteSetting(settings::kSlideRanges, ranges);
    QDialog::accept();
}

} // namespace pradelux
