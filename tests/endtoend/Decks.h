// Presentations for the end-to-end tests, made from flat ODP text with
// LibreOffice, and a look into the PDFs that come out.
#pragma once

#include <QString>
#include <QStringList>

namespace pradelux::test {

// A flat ODP document with one slide per text; slides listed in hidden are
// hidden slides; font, when given, is the text's font.
QByteArray flatPresentation(const QStringList& slideTexts, const QList<int>& hidden = {},
                            const QString& font = QString());

// The path of a test deck: "three-slides-one-hidden" as .fodp, .pptx, .ppt or
// .odp. Decks are made once and kept in the build's test cache.
QString deck(const QString& suffix);

// The three-slide deck protected by kDeckPassword: "odp" saved so by
// LibreOffice, "pptx" encrypted as PowerPoint encrypts it.
inline const QString kDeckPassword = QStringLiteral("Kestrel 2026 \u00fc");
QString protectedDeck(const QString& suffix);

// What program says on its standard output, waited for up to a minute.
QString outputOf(const QString& program, const QStringList& arguments);

// The text of a PDF (pdftotext); empty when it cannot be read.
QString pdfText(const QString& pdf);

// The number of pages of a PDF, or -1 when it cannot be read.
int pdfPages(const QString& pdf);

} // namespace pradelux::test
