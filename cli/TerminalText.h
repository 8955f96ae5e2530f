// Text on its way to a terminal, and the lines a run says there. A
// presentation's name is a stranger's: its control characters would move the
// cursor, retitle the window or write the clipboard, so on a terminal they
// are shown as escapes (\e, \a, \r, \x7f, \u009b …), as ls quotes such
// names. Pipes and files get the bytes as they are.
#pragma once

#include <QIODevice>
#include <QString>
#include <QStringDecoder>

namespace pradelux {

// Every control character but the line break shown as an escape.
QString TerminalText(const QString& text);
// The same, the line break included: a name, or a line that must stay one.
QString TerminalName(const QString& name);

// A terminal's file descriptor, through which every text goes as
// TerminalText; writeRaw sends the program's own control sequences.
class TerminalDevice : public QIODevice
{
public:
    explicit TerminalDevice(int fd);
    bool isSequential() const override { return true; }
    void writeRaw(QByteArrayView bytes);
    // The names of these paths' folders and files that hold control
    // characters are shown as TerminalName wherever they stand, so that
    // not even a line break of theirs reaches the terminal.
    void escapeNamesIn(const QStringList& paths);

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool writeAll(QByteArrayView bytes);
    int m_fd;
    QStringList m_names; // longest first
    QStringDecoder m_decoder{QStringDecoder::Utf8};
};

// What the error output says of a failed row, as cp and rsync say it: one
// line, "pradelux: FILE: reason", the file named once.
QString FailedRowLine(const QString& presentation, const QString& reason);

// Said when a report file cannot be opened, and when Ctrl+C stopped a run.
QString ReportFileError(const QString& file, const QString& error);
QString InterruptedText(qsizetype done, qsizetype total);
// The final line of a run whose standard output's reader went away.
QString OutputClosedText(qsizetype done, qsizetype total);

} // namespace pradelux
