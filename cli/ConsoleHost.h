// The rows and the progress of an export run on a terminal, and what a
// script reads of it: each PDF's path as soon as it is written, a report
// line for each row, and one line for each row that failed (with --verbose,
// the window's reports in full).
#pragma once

#include "TerminalText.h"

#include "PdfPrinter.h"

#include "ExportRun.h"
#include "Interrupts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QTextStream>

namespace pradelux {

class ConsoleDialogs;
class TerminalDevice;

struct ConsoleOutput
{
    QTextStream& out; // the PDFs written
    QTextStream& err; // progress, reports, the final message
    bool terminal = false;
    char terminator = '\n'; // after each path: a new line, or NUL with --null
    bool verbose = false;   // every step's report, not the first of a row
    QString reportFile;     // one JSON object a line for each row; empty for none
    bool job = false;       // a job of a larger run: no progress, no final message
    QString claims;         // a job's: the folder where the jobs take their rows
    bool update = false;    // leave a row whose PDF is newer than its presentation
    // --keep-folders: each row's folder below the output folder.
    QHash<QString, QString> subfolders;
    // The error output's terminal, for the progress bar's own control
    // sequences (all else shows control characters as escapes); null when
    // there is none.
    TerminalDevice* errTerminal = nullptr;
    bool outIsTerminal = false; // paths shown with their control characters escaped
    bool quiet = false;         // no progress, only failures and the final message
};

class ConsoleHost : public ExportHost
{
public:
    ConsoleHost(QStringList rows, QString folder, ConsoleOutput output, ConsoleDialogs& dialogs);

    // False when the report file cannot be written (why says so).
    bool openReport(QString* why);

    int rowCount() const override { return static_cast<int>(m_rows.size()); }
    QString rowText(int row) const override;
    QString outputFolder() const override { return m_folder; }
    void setProgressValue(int value) override { m_value = value; }
    void setProgressText(const QString& text) override;
    void setMousePointer(int) override {}
    void yield() override;
    void rowEnded(int row, const QString& presentation, const QString& pdf, RowStatus status) override;
    void rowReplaced(const QString& earlier) override;
    void exportFinished(const ExportOutcome&) override;
    bool stopRequested() const override { return Interrupted(); }
    bool takesRow(const QString& presentation) override;
    bool isUpToDate(const QString& presentation, const QString& pdf) const override;
    QString subfolderFor(const QString& presentation) const override { return m_output.subfolders.value(presentation); }

    // Ends the progress bar's line, so that what follows starts on its own.
    void endLine();

private:
    struct Line
    {
        QString presentation, pdf, status, error;
        int pages = -1;
        double seconds = 0;
        pdfprinter::PdfKind kind = {};
        QList<pdfprinter::StandInFont> standIns = {};
        QList<char32_t> lacking = {};
    };
    void writeReport(const Line& line);
    // True when a later row's PDF would go to the same path as this row's.
    bool mayBeReplaced(int row, const QString& pdf) const;

    QStringList m_rows;
    QString m_folder;
    ConsoleOutput m_output;
    ConsoleDialogs& m_dialogs;
    QFile m_report;
    QElapsedTimer m_rowClock;
    // Report lines of written rows that a later row may still replace, by path.
    QHash<QString, Line> m_held;
    // The units (or PDF names, case-folded) whose rows this job took.
    QSet<QString> m_taken;
    // A job's: each row's unit, as the run planned them; read once.
    QHash<QString, QString> m_units;
    bool m_unitsRead = false;
    int m_value = 0;
    int m_row = 0;
    bool m_lineOpen = false;
};

} // namespace pradelux
