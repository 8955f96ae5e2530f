// The export run: every row of the list becomes a PDF in the output folder,
// one after another, with progress.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace pradelux {

class Automation;
class Dialogs;
class RunLock;

// What the last run that reached its rows did.
struct ExportOutcome
{
    int rows = 0;
    QStringList written;       // the PDFs that stand at the end, in row order
    QStringList failed;        // the rows that gave no PDF
    QStringList replaced;      // the rows whose PDF a later row of the run overwrote
    bool stopped = false;      // ended before its last row, as its host asked
    QStringList reflowed = {}; // rows written in fonts of other widths than they ask for
    QStringList lacking = {};  // rows written with letters that no installed font has
    bool allWritten() const { return rows > 0 && failed.isEmpty() && replaced.isEmpty(); }
};

// How one row ended.
enum class RowStatus {
    Written,  // its PDF stands
    Failed,   // it was exported, but gave no PDF
    Skipped,  // it was not handed on: nothing to export, or its PDF could not go there
    UpToDate, // its PDF is newer than the presentation and was left as it was
};

// What the run needs of the window.
class ExportHost
{
public:
    virtual ~ExportHost() = default;
    virtual int rowCount() const = 0;
    // Row 1 to rowCount(); a Failure for any other row.
    virtual QString rowText(int row) const = 0;
    virtual QString outputFolder() const = 0;
    virtual void setProgressValue(int value) = 0;
    virtual void setProgressText(const QString& text) = 0;
    virtual void setMousePointer(int value) = 0;
    virtual void yield() = 0;
    // The rows are done; the final message comes next.
    virtual void exportFinished(const ExportOutcome&) {}
    // Row (1-based) has ended; pdf is where its PDF went or would have gone.
    virtual void rowEnded(int /*row*/, const QString& /*presentation*/, const QString& /*pdf*/, RowStatus) {}
    // This row overwrote the PDF that an earlier row of the run wrote.
    virtual void rowReplaced(const QString& /*earlier*/) {}
    // Asked before each row: true ends the run there, after the rows done so
    // far, without the final message (a script's user pressed Ctrl+C).
    virtual bool stopRequested() const { return false; }
    // False for a row that another run taking rows from the same list at the
    // same moment has taken: it is left to that run, without a trace here.
    virtual bool takesRow(const QString& /*presentation*/) { return true; }
    // True for a row whose PDF needs no export again (the command line's
    // --update): it is left as it is, neither written nor failed.
    virtual bool isUpToDate(const QString& /*presentation*/, const QString& /*pdf*/) const { return false; }
    // The folder below the output folder that the row's PDF goes to (the
    // command line's --keep-folders), made as needed; empty for the output
    // folder itself.
    virtual QString subfolderFor(const QString& /*presentation*/) const { return QString(); }
    // Why no row could be printed as the run is asked to print them (slides
    // past every presentation's last), said before the run; empty when rows
    // can be.
    virtual QString whyNothingCanBePrinted() const { return QString(); }
};

namespace texts {
inline const QString kAnotherRun =
    QStringLiteral("Another export is running: %1. Nothing was started; try again when it has finished.");
inline const QString kLockUnusable = QStringLiteral("The export lock cannot be taken: %1. Nothing was started.");
inline const QString kNoFiles = QStringLiteral("No files added.");
inline const QString kNoFolder = QStringLiteral("Folder does not exist. Please select another folder.");
inline const QString kDone = QStringLiteral("Done.");
inline const QString kProcessing = QStringLiteral("Processing: ");
inline const QString kProgressAtRest = QStringLiteral("Progress Bar");
} // namespace texts

// The text after the last separator; the whole text when it has none.
QString FileNameOf(const QString& path);
// The PDF's name: the part after the last dot becomes "pdf". A name without
// a dot (a leading dot does not count) gets ".pdf" appended.
QString OutputFileName(const QString& rowText);
// Why the PDF of presentation cannot be written at pdf: it is the
// presentation itself, a folder stands there, or an earlier file there
// cannot be replaced. Empty text when it can. Nothing is changed: an earlier
// PDF stays until the new one, whole, takes its place.
QString WhyPdfCannotGoThere(const QString& presentation, const QString& pdf);
// "Done.", followed by how many rows gave no PDF and which, and by the rows
// whose PDF a later row of the same name replaced.
QString DoneMessage(int rows, const QStringList& failed, const QStringList& replaced = {},
                    const QStringList& reflowed = {}, const QStringList& lacking = {});

class ExportRun
{
public:
    using ExportOne = std::function<bool(const QString& presentation, const QString& pdf)>;
    ExportRun(ExportHost& host, Dialogs& dialogs, Automation* automation, ExportOne exportOne)
        : m_host(host), m_dialogs(dialogs), m_automation(automation), m_exportOne(std::move(exportOne))
    {
    }

    // One export at a time: the run holds lock from its checks to its end.
    // When another run holds it, whenHeld is told who; it answers true to
    // try again (after waiting) or false to start nothing.
    using WhenHeld = std::function<bool(const QString& holder)>;
    void setLock(RunLock* lock, QString program, WhenHeld whenHeld)
    {
        m_lock = lock;
        m_program = std::move(program);
        m_whenHeld = std::move(whenHeld);
    }

    void PushButton2_Click();
    bool ExportInProgress = false;
    // Empty until a run has gone through its rows.
    const ExportOutcome& lastOutcome() const { return m_outcome; }

private:
    ExportHost& m_host;
    Dialogs& m_dialogs;
    Automation* m_automation;
    ExportOne m_exportOne;
    ExportOutcome m_outcome;
    RunLock* m_lock = nullptr;
    QString m_program;
    WhenHeld m_whenHeld;
    bool takeLock();
};

} // namespace pradelux
