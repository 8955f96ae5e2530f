// Presentations for the end-to-end tests.
#include "Decks.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

namespace pradelux::test {

QByteArray flatPresentation(const QStringList& slideTexts, const QList<int>& hidden, const QString& font)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                     "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
                     "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" "
                     "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
                     "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
                     "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
                     "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" office:version=\"1.3\" "
                     "office:mimetype=\"application/vnd.oasis.opendocument.presentation\">\n"
                     "<office:automatic-styles><style:style style:name=\"hidden\" style:family=\"drawing-page\">"
                     "<style:drawing-page-properties presentation:visibility=\"hidden\"/></style:style>"
                     "<style:style style:name=\"font\" style:family=\"text\"><style:text-properties fo:font-family=\"" +
                     (font.isEmpty() ? QByteArray("Liberation Sans") : font.toHtmlEscaped().toUtf8()) +
                     "\"/></style:style></office:automatic-styles>\n"
                     "<office:body><office:presentation>\n";
    for (int i = 0; i < slideTexts.size(); ++i) {
        xml +=
            "<draw:page draw:name=\"s" + QByteArray::number(i + 1) + "\"" +
            (hidden.contains(i + 1) ? QByteArray(" draw:style-name=\"hidden\"") : QByteArray()) +
            "><draw:frame svg:x=\"2cm\" svg:y=\"3cm\" svg:width=\"22cm\" svg:height=\"4cm\"><draw:text-box><text:p>" +
            (font.isEmpty() ? QByteArray() : QByteArray("<text:span text:style-name=\"font\">")) +
            slideTexts[i].toHtmlEscaped().toUtf8() + (font.isEmpty() ? QByteArray() : QByteArray("</text:span>")) +
            "</text:p></draw:text-box></draw:frame></draw:page>\n";
    }
    xml += "</office:presentation></office:body></office:document>\n";
    return xml;
}

QString deck(const QString& suffix)
{
    const QString folder = QStringLiteral(PRADELUX_TEST_CACHE "/decks");
    const QString base = folder + QStringLiteral("/three-slides-one-hidden");
    const QString path = base + QLatin1Char('.') + suffix;
    if (QFile::exists(path))
        return path;
    QDir().mkpath(folder);
    QFile source(base + QStringLiteral(".fodp"));
    if (!source.exists()) {
        source.open(QIODevice::WriteOnly);
        source.write(flatPresentation(
            {QStringLiteral("Slide one"), QStringLiteral("Slide two, hidden"), QStringLiteral("Slide three")}, {2}));
        source.close();
    }
    if (suffix == QLatin1String("fodp"))
        return path;
    QProcess::execute(QStringLiteral("soffice"),
                      {QStringLiteral("--headless"), QStringLiteral("--norestore"),
                       QStringLiteral("-env:UserInstallation=") +
                           QUrl::fromLocalFile(QStringLiteral(PRADELUX_TEST_CACHE "/convert-profile")).toString(),
                       QStringLiteral("--convert-to"), suffix, QStringLiteral("--outdir"), folder, source.fileName()});
    return path;
}

QString protectedDeck(const QString& suffix)
{
    if (suffix == QLatin1String("pptx"))
        return QStringLiteral(PRADELUX_SOURCE_DIR "/tests/endtoend/protected.pptx");
    const QString folder = QStringLiteral(PRADELUX_TEST_CACHE "/decks");
    const QString path = folder + QStringLiteral("/protected.odp");
    if (!QFile::exists(path))
        QProcess::execute(QStringLiteral("/usr/bin/python3"),
                          {QStringLiteral(PRADELUX_SOURCE_DIR "/tests/endtoend/protected_decks.py"),
                           deck(QStringLiteral("fodp")), kDeckPassword, folder});
    return path;
}

QString outputOf(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString pdfText(const QString& pdf)
{
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    return text.waitForFinished(30000) && text.exitCode() == 0 ? QString::fromUtf8(text.readAllStandardOutput())
                                                               : QString();
}

int pdfPages(const QString& pdf)
{
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {pdf});
    if (!info.waitForFinished(30000) || info.exitCode() != 0)
        return -1;
    const auto match = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(QString::fromUtf8(info.readAll()));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

} // namespace pradelux::test
