// The export run on a terminal.
#include "ConsoleHost.h"

#include "ClaimPlan.h"
#include "ConsoleDialogs.h"
#include "EventLoop.h"
#include "Failure.h"
#include "PdfPrinter.h"
#include "StandInFonts.h"
#include "TerminalText.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pradelux {

ConsoleHost::ConsoleHost(QStringList rows, QString folder, ConsoleOutput output, ConsoleDialogs& dialogs)
    : m_rows(std::move(rows)), m_folder(std::move(folder)), m_output(output), m_dialogs(dialogs)
{
    // The reports are held, and a failed row is said in one line, unless
    // every report is asked for in full.
    m_dialogs.holdReports = !m_output.verbose;
    m_dialogs.onlyReports = m_output.job;
    m_dialogs.beforeWriting = [this] { endLine(); };
    m_rowClock.start();
}

bool ConsoleHost::openReport(QString* why)
{
    if (m_output.reportFile.isEmpty())
        return true;
    m_report.setFileName(m_output.reportFile);
    if (m_report.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return true;
    *why = ReportFileError(m_output.reportFile, m_report.errorString());
    return false;
}

QString ConsoleHost::rowText(int row) const
{
    if (row < 1 || row > m_rows.size())
        throw Failure(failure::kSubscriptOutOfRange, QStringLiteral("Subscript out of range"));
    return m_rows[row - 1];
}

void ConsoleHost::yield()
{
    DoEvents();
}

void ConsoleHost::setProgressText(const QString& text)
{
    if (!text.startsWith(texts::kProcessing)) {
        endLine();
        return;
    }
    ++m_row;
    m_rowClock.restart();
    if (m_output.job || m_output.quiet)
        return;
    QTextStream& err = m_output.err;
    const QString counted = QStringLiteral("%1/%2 %3").arg(m_row).arg(m_rows.size()).arg(text);
    if (m_output.terminal) {
        const int filled = qBound(0, m_value / 5, 20);
        // Back to the start of the line, which is cleared.
        const char* restart = "\r\033[K";
        if (m_output.errTerminal) {
            err.flush();
            m_output.errTerminal->writeRaw(restart);
        } else {
            err << restart;
        }
        err << "[" << QString(filled, QLatin1Char('#')) << QString(20 - filled, QLatin1Char('-')) << "] " << counted;
        m_lineOpen = true;
    } else {
        err << counted << '\n';
    }
    err.flush();
}

bool ConsoleHost::isUpToDate(const QString& presentation, const QString& pdf) const
{
    // As make and rsync --update judge: the PDF was modified after the
    // presentation. A PDF only ever appears whole (the printer renames it
    // into place), so a crashed or failed job leaves none to be taken for one.
    struct stat made, source;
    const auto newer = [](const timespec& a, const timespec& b) {
        return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
    };
    return m_output.update && ::stat(QFile::encodeName(pdf).constData(), &made) == 0 && S_ISREG(made.st_mode) &&
           ::stat(QFile::encodeName(presentation).constData(), &source) == 0 && newer(made.st_mtim, source.st_mtim);
}

bool ConsoleHost::takesRow(const QString& presentation)
{
    if (m_output.claims.isEmpty())
        return true;
    // A unit's rows go to one job (rows that make one PDF among them, so
    // that no two jobs ever write one PDF); the first job to reach a row of
    // a unit takes them all.
    if (!m_unitsRead) {
        m_unitsRead = true;
        m_units = ReadPairs(m_output.claims + QLatin1Char('/') + QLatin1String(kUnitsFile));
    }
    const QString name = m_units.value(presentation, ClaimKey(presentation, m_output.subfolders));
    if (m_taken.contains(name))
        return true;
    const QByteArray claim = QFile::encodeName(m_output.claims) + '/' +
                             QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex();
    const int fd = ::open(claim.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST)
        return false;
    // A claim that cannot be made at all: the row is done here, perhaps twice,
    // but never left undone.
    if (fd >= 0)
        ::close(fd);
    m_taken.insert(name);
    return true;
}

void ConsoleHost::endLine()
{
    if (!m_lineOpen)
        return;
    m_output.err << '\n';
    m_output.err.flush();
    m_lineOpen = false;
}

void ConsoleHost::rowEnded(int row, const QString& presentation, const QString& pdf, RowStatus status)
{
    Line line{presentation, pdf, QString(), QString(), -1, m_rowClock.nsecsElapsed() / 1e9};
    // A failed row is one line: the reason its first failing step gave (the
    // report's line after its title); its later steps failed of that.
    const QStringList reports = m_dialogs.takeReports();
    if (!reports.isEmpty()) {
        line.error = reports.constFirst().section(QLatin1Char('\n'), 1, 1);
        if (!m_output.verbose) {
            endLine();
            m_output.err << FailedRowLine(presentation, line.error) << '\n';
            m_output.err.flush();
        }
    }
    switch (status) {
    case RowStatus::Written: {
        line.status = QStringLiteral("written");
        // The pages as the printer recorded them: the PDF itself came from
        // LibreOffice and is not parsed here.
        line.pages = pdfprinter::RecordedPages(pdf);
        line.kind = pdfprinter::RecordedKind(pdf);
        line.standIns = pdfprinter::RecordedStandIns(pdf);
        line.lacking = pdfprinter::RecordedLacking(pdf);
        // A row whose text may wrap otherwise than its author saw it, or
        // lacks letters, says so.
        if (const QString warning = FontWarning(line.standIns, line.lacking); !warning.isEmpty() && !m_output.quiet) {
            endLine();
            m_output.err << FailedRowLine(presentation, warning) << '\n';
            m_output.err.flush();
        }
        // Out at once, so a pipe sees each PDF as it comes; a reader that
        // has gone stops the run.
        if (m_output.outIsTerminal)
            endLine(); // the path on a line of its own, not after the progress bar
        m_output.out << (m_output.outIsTerminal ? TerminalName(pdf) : pdf) << m_output.terminator;
        m_output.out.flush();
        if (m_output.out.status() != QTextStream::Ok)
            StopForClosedOutput();
        if (mayBeReplaced(row, pdf)) {
            m_held.insert(QFileInfo(pdf).absoluteFilePath(), line);
            return;
        }
        break;
    }
    case RowStatus::Failed:
        line.status = QStringLiteral("failed");
        break;
    case RowStatus::Skipped:
    case RowStatus::UpToDate:
        line.status = QStringLiteral("skipped");
        break;
    }
    // A later row of the same name has ended: the earlier row's line is due.
    const auto held = m_held.find(QFileInfo(pdf).absoluteFilePath());
    if (held != m_held.end() && !pdf.isEmpty()) {
        writeReport(*held);
        m_held.erase(held);
    }
    writeReport(line);
}

void ConsoleHost::rowReplaced(const QString& earlier)
{
    for (auto it = m_held.begin(); it != m_held.end(); ++it) {
        if (it->presentation == earlier) {
            it->status = QStringLiteral("replaced");
            writeReport(*it);
            m_held.erase(it);
            return;
        }
    }
}

void ConsoleHost::exportFinished(const ExportOutcome&)
{
    for (const Line& line : std::as_const(m_held))
        writeReport(line);
    m_held.clear();
}

bool ConsoleHost::mayBeReplaced(int row, const QString& pdf) const
{
    const QString name = QFileInfo(pdf).fileName();
    for (int later = row; later < m_rows.size(); ++later) {
        if (OutputFileName(m_rows[later]).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void ConsoleHost::writeReport(const Line& line)
{
    if (!m_report.isOpen())
        return;
    QJsonObject o{{QStringLiteral("presentation"), line.presentation},
                  {QStringLiteral("pdf"), line.pdf},
                  {QStringLiteral("status"), line.status},
                  {QStringLiteral("seconds"), qRound(line.seconds * 1000) / 1000.0}};
    if (line.pages >= 0)
        o.insert(QStringLiteral("pages"), line.pages);
    // What the PDF is, as the renderer's check found it.
    if (!line.kind.version.isEmpty()) {
        o.insert(QStringLiteral("pdfVersion"), line.kind.version);
        o.insert(QStringLiteral("pdfa"), line.kind.pdfa);
        o.insert(QStringLiteral("tagged"), line.kind.tagged);
    }
    if (!line.error.isEmpty())
        o.insert(QStringLiteral("error"), line.error);
    // A script tells a protected deck from a damaged one.
    if (line.error.contains(failure::kProtectedByPassword))
        o.insert(QStringLiteral("protected"), true);
    // The fonts asked for that were printed in others, and whether those
    // keep every letter's width.
    if (!line.standIns.isEmpty()) {
        QJsonArray fonts;
        for (const pdfprinter::StandInFont& s : line.standIns)
            fonts.append(QJsonObject{{QStringLiteral("requested"), s.requested},
                                     {QStringLiteral("printed"), s.printed},
                                     {QStringLiteral("sameWidths"), IsMetricTwin(s.requested, s.printed)}});
        o.insert(QStringLiteral("fonts"), fonts);
    }
    // The letters that no installed font has: each prints as an empty box.
    if (!line.lacking.isEmpty()) {
        QJsonArray letters;
        for (const char32_t c : line.lacking) {
            const LetterScript where = ScriptOf(c);
            QJsonObject letter{{QStringLiteral("letter"), QString::fromUcs4(&c, 1)},
                               {QStringLiteral("code"), LetterCode(c)}};
            if (!where.script.isEmpty()) {
                letter.insert(QStringLiteral("script"), where.script);
                letter.insert(QStringLiteral("package"), where.package);
            }
            letters.append(letter);
        }
        o.insert(QStringLiteral("lacking"), letters);
    }
    m_report.write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
}

} // namespace pradelux
