// What a file handed to the presentation application is: which format its
// bytes are, each read by its own file.
#include "PresentationFile.h"

#include "DeckXml.h"
#include "FileFormats.h"

#include <QDir>
#include <QUrl>

#include <sys/stat.h>

namespace pradelux::office {

QString PartName(const QString& name)
{
    return name.isEmpty() ? QStringLiteral("a part with no name") : QStringLiteral("the part \"%1\"").arg(name);
}

FileKind Damaged(const QString& why)
{
    return {FileKind::Damaged, why};
}

namespace {
// ---- flat XML (.fodp) --------------------------------------------------

FileKind inspectFlat(QByteArrayView head)
{
    if (head.contains("office:mimetype=\"application/vnd.oasis.opendocument.presentation") ||
        head.contains("<office:presentation"))
        return {FileKind::Presentation, {}};
    return {FileKind::NotPresentation, {}};
}

// Which kind the bytes are, judged by how they start.
FileKind inspect(Bytes& b, qint64 unpackLimit)
{
    const QByteArray start = b.at(0, 1 << 16);
    FileKind kind;
    if (start.startsWith("PK\x03\x04") || start.startsWith("PK\x05\x06")) {
        kind = InspectZip(b, unpackLimit);
    } else if (start.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) {
        kind = InspectCompound(b);
    } else {
        QByteArrayView head(start);
        if (head.startsWith("\xEF\xBB\xBF"))
            head = head.sliced(3);
        while (!head.isEmpty() && QChar::isSpace(static_cast<uchar>(head.front())))
            head = head.sliced(1);
        if (head.startsWith("<?xml") || head.startsWith("<office:document"))
            kind = inspectFlat(head);
        if (kind.verdict == FileKind::Presentation) {
            DeckLetters letters;
            DeckXml content(DeckXml::Part::Content, &letters);
            b.stream(0, b.size(), [&](QByteArrayView piece) {
                content.feed(piece);
                return true;
            });
            kind.slides = content.broken() ? -1 : content.count();
            kind.links = content.links();
            kind.letters = letters.letters();
        }
    }
    if (b.shrank())
        return Damaged(QStringLiteral("it changed while it was read"));
    return kind;
}

} // namespace

qint64 UnpackLimit()
{
    bool ok = false;
    const qint64 mib = qEnvironmentVariableIntValue("PRADELUX_UNPACK_LIMIT", &ok);
    return ok && mib > 0 ? mib << 20 : qint64(2) << 30;
}

FileKind InspectPresentationData(const QByteArray& data, qint64 unpackLimit)
{
    Bytes b{QByteArrayView(data)};
    return inspect(b, unpackLimit);
}

FileKind InspectPresentationFile(int fd, qint64 unpackLimit)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return {FileKind::NotRegular, {}};
    Bytes b(fd, st.st_size);
    return st.st_size == 0 ? FileKind{FileKind::NotPresentation, {}} : inspect(b, unpackLimit);
}

QStringList LocalLinks(const QStringList& links, const QString& folder)
{
    const QString base = QDir::cleanPath(folder);
    QStringList local;
    for (const QString& link : links) {
        QString path;
        const QUrl url(link);
        if (url.scheme() == QLatin1String("file") && url.host().isEmpty()) {
            const QString absolute = QDir::cleanPath(url.path());
            if (!absolute.startsWith(base + QLatin1Char('/')))
                continue;
            path = absolute.mid(base.size() + 1);
        } else if (url.scheme().isEmpty() && !link.startsWith(QLatin1Char('#')) && !link.startsWith(QLatin1Char('/'))) {
            path = QDir::cleanPath(QUrl::fromPercentEncoding(link.toUtf8()));
        } else {
            continue;
        }
        if (!path.isEmpty() && path != QLatin1String(".") && !path.startsWith(QLatin1String("..")) &&
            !local.contains(path))
            local << path;
    }
    return local;
}

} // namespace pradelux::office
