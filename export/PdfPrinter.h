// The PDF printer the program prints through, and the registry values that
// tell it where the next PDF goes.
#pragma once

#include "PdfSettings.h"
#include "Registry.h"

#include <QFile>
#include <QString>
#include <sys/xattr.h>

namespace pradelux::pdfprinter {

inline const QString kName = QStringLiteral("Veltrande PDF Writer");
inline const QString kPort = QStringLiteral("CPW2:");
inline const QString kKey = QStringLiteral("Software\\") + kName;
inline const QString kOutputFile = QStringLiteral("OutputFile");
inline const QString kBypassSaveAs = QStringLiteral("BypassSaveAs");

// The printer's settings for its next job: a run writes them for each row
// while it holds the lock, as it writes where the PDF goes.
inline void SetPdfSettings(Registry& registry, const PdfSettings& settings)
{
    Registry::Key key = 0;
    if (registry.createKey(kKey, &key) != registry::kSuccess)
        return;
    // The result codes are not examined, as with the printer's other values.
    pdfsettings::Write([&](const QString& name, const QString& value) { registry.setStringValue(key, name, value); },
                       settings);
    registry.closeKey(key);
}

// The printer records with each PDF it writes how many pages the renderer's
// check counted, so whoever asked for the PDF learns its pages without
// parsing what LibreOffice wrote.
inline constexpr const char* kPagesAttribute = "user.pradelux.pages";

inline void RecordPages(const QString& pdf, int pages)
{
    if (pages < 0)
        return;
    const QByteArray value = QByteArray::number(pages);
    // A file system without extended attributes keeps the PDF without them.
    ::setxattr(QFile::encodeName(pdf).constData(), kPagesAttribute, value.constData(), value.size(), 0);
}

// What the renderer's check found the PDF to be, recorded beside its pages.
inline constexpr const char* kKindAttribute = "user.pradelux.pdf";
struct PdfKind
{
    QString version; // "1.6"; empty when nothing was recorded
    int pdfa = 0;    // its PDF/A part; 0: none
    bool tagged = false;
};

inline void RecordKind(const QString& pdf, const PdfKind& kind)
{
    if (kind.version.isEmpty())
        return;
    const QByteArray value =
        kind.version.toLatin1() + ' ' + QByteArray::number(kind.pdfa) + ' ' + (kind.tagged ? '1' : '0');
    ::setxattr(QFile::encodeName(pdf).constData(), kKindAttribute, value.constData(), value.size(), 0);
}

// What was recorded with pdf; an empty version when nothing was.
inline PdfKind RecordedKind(const QString& pdf)
{
    char value[32] = {};
    const ssize_t size = ::getxattr(QFile::encodeName(pdf).constData(), kKindAttribute, value, sizeof value - 1);
    const QList<QByteArray> parts = size > 0 ? QByteArray(value, size).split(' ') : QList<QByteArray>();
    if (parts.size() != 3)
        return {};
    return {QString::fromLatin1(parts[0]), parts[1].toInt(), parts[2] == "1"};
}

// The fonts a presentation asked for that were printed in others, as the
// renderer told of them, recorded beside its pages: a line
// "requested\tprinted" each.
inline constexpr const char* kStandInsAttribute = "user.pradelux.fonts";
struct StandInFont
{
    QString requested;
    QString printed;
    bool operator==(const StandInFont&) const = default;
};

inline void RecordStandIns(const QString& pdf, const QList<StandInFont>& standIns)
{
    if (standIns.isEmpty())
        return;
    // As many as a file system's attributes hold beside the others.
    QByteArray value;
    for (const StandInFont& s : standIns) {
        const QByteArray line = s.requested.toUtf8() + '\t' + s.printed.toUtf8() + '\n';
        if (value.size() + line.size() > 2048)
            break;
        value += line;
    }
    ::setxattr(QFile::encodeName(pdf).constData(), kStandInsAttribute, value.constData(),
               static_cast<size_t>(value.size()), 0);
}

// The value of pdf's attribute, at most most bytes; empty when it has none.
inline QByteArray RecordedValue(const QString& pdf, const char* attribute, qsizetype most)
{
    QByteArray value(most, '\0');
    const ssize_t size =
        ::getxattr(QFile::encodeName(pdf).constData(), attribute, value.data(), static_cast<size_t>(value.size()));
    return value.left(qMax<ssize_t>(0, size));
}

// What was recorded with pdf; nothing when nothing was.
inline QList<StandInFont> RecordedStandIns(const QString& pdf)
{
    QList<StandInFont> standIns;
    for (const QByteArray& line : RecordedValue(pdf, kStandInsAttribute, 4096).split('\n')) {
        const QList<QByteArray> names = line.split('\t');
        if (names.size() == 2)
            standIns.append({QString::fromUtf8(names[0]), QString::fromUtf8(names[1])});
    }
    return standIns;
}

// The letters of a presentation's pages that no installed font has, as
// the renderer told of them, recorded beside its pages: code points in
// hexadecimal, a space between.
inline constexpr const char* kLackingAttribute = "user.pradelux.lacking";

inline void RecordLacking(const QString& pdf, const QList<char32_t>& lacking)
{
    QByteArrayList codes;
    for (const char32_t c : lacking)
        codes << QByteArray::number(c, 16).toUpper();
    const QByteArray value = codes.join(' ').left(1024);
    if (!value.isEmpty())
        ::setxattr(QFile::encodeName(pdf).constData(), kLackingAttribute, value.constData(),
                   static_cast<size_t>(value.size()), 0);
}

inline QList<char32_t> RecordedLacking(const QString& pdf)
{
    QList<char32_t> lacking;
    for (const QByteArray& code : RecordedValue(pdf, kLackingAttribute, 1024).split(' ')) {
        bool ok = false;
        const uint c = code.toUInt(&ok, 16);
        if (ok && c > 0x20 && c <= 0x10ffff)
            lacking << static_cast<char32_t>(c);
    }
    return lacking;
}

// The pages recorded with pdf; -1 when none were.
inline int RecordedPages(const QString& pdf)
{
    char value[16] = {};
    const ssize_t size = ::getxattr(QFile::encodeName(pdf).constData(), kPagesAttribute, value, sizeof value - 1);
    bool ok = false;
    const int pages = size > 0 ? QByteArray(value, size).toInt(&ok) : -1;
    return ok && pages >= 0 ? pages : -1;
}

} // namespace pradelux::pdfprinter

namespace pradelux {
inline const QString kPowerPointClass = QStringLiteral("PowerPoint.Application");

// The lock that keeps export runs apart, beside the printer's values that
// they would otherwise share.
inline QString ExportLockPath(const FileRegistry& registry)
{
    return registry.folderOf(pdfprinter::kKey) + QStringLiteral("/.export-lock");
}
} // namespace pradelux
