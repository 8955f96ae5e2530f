// Text on its way to a terminal.
#include "TerminalText.h"

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <unistd.h>

namespace pradelux {

namespace {
QString escaped(const QString& text, bool lineBreaks)
{
    // The controls that have a letter of their own, and their letters.
    static constexpr char16_t kNamed[] = u"\a\b\t\n\v\f\r\x1b";
    static constexpr char kLetters[] = "abtnvfre";
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool control = u < 0x20 || (u >= 0x7F && u <= 0x9F);
        if (!control || (u == '\n' && !lineBreaks)) {
            shown += c;
            continue;
        }
        const std::u16string_view named(kNamed);
        if (const auto at = named.find(u); at != std::u16string_view::npos)
            shown += QLatin1String("\\") + QLatin1Char(kLetters[at]);
        else
            shown += u < 0x80 ? QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'))
                              : QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
    }
    return shown;
}
} // namespace

QString TerminalText(const QString& text)
{
    return escaped(text, false);
}

QString TerminalName(const QString& name)
{
    return escaped(name, true);
}

TerminalDevice::TerminalDevice(int fd) : m_fd(fd)
{
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

void TerminalDevice::writeRaw(QByteArrayView bytes)
{
    writeAll(bytes);
}

void TerminalDevice::escapeNamesIn(const QStringList& paths)
{
    for (const QString& path : paths) {
        for (const QString& name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            if (TerminalName(name) != name && !m_names.contains(name))
                m_names << name;
        }
    }
    std::sort(m_names.begin(), m_names.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
}

qint64 TerminalDevice::writeData(const char* data, qint64 size)
{
    // A character cut between two writes is completed by the next one.
    QString text = m_decoder.decode(QByteArrayView(data, size));
    for (const QString& name : std::as_const(m_names))
        text.replace(name, TerminalName(name));
    return writeAll(TerminalText(text).toUtf8()) ? size : -1;
}

bool TerminalDevice::writeAll(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), static_cast<size_t>(bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.sliced(n);
    }
    return true;
}

QString ReportFileError(const QString& file, const QString& error)
{
    return QStringLiteral("The report file %1 cannot be written: %2").arg(file, error);
}

QString InterruptedText(qsizetype done, qsizetype total)
{
    return QStringLiteral("pradelux: interrupted after %1 of %2 presentations; every PDF written is listed above.")
        .arg(done)
        .arg(total);
}

QString OutputClosedText(qsizetype done, qsizetype total)
{
    return QStringLiteral("pradelux: the standard output was closed; stopped after %1 of %2 presentations.")
        .arg(done)
        .arg(total);
}

QString FailedRowLine(const QString& presentation, const QString& reason)
{
    const QString said = reason.trimmed();
    return said.contains(presentation) ? QStringLiteral("pradelux: ") + said
                                       : QStringLiteral("pradelux: %1: %2").arg(presentation, said);
}

} // namespace pradelux
