// The export run.
#include "ExportRun.h"

#include "Dialogs.h"
#include "ErrorReport.h"
#include "Failure.h"
#include "Files.h"
#include "InstanceGuard.h"
#include "RunLock.h"
#include "StandInFonts.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace pradelux {

namespace {
constexpr int kBusyPointer = 11;
constexpr int kDefaultPointer = 0;
// The failure summary names this many rows, then counts the rest.
constexpr int kNamedFailures = 10;
} // namespace

QString FileNameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(kSeparator) + 1);
}

QString OutputFileName(const QString& rowText)
{
    const QString name = FileNameOf(rowText);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return name + QStringLiteral(".pdf");
    return name.left(dot + 1) + QStringLiteral("pdf");
}

QString WhyPdfCannotGoThere(const QString& presentation, const QString& pdf)
{
    const QString place = FileKey(pdf);
    if (place.isEmpty())
        return QString();
    if (place == FileKey(presentation))
        return QStringLiteral("%1 is itself the PDF that its export would write, so it was not exported.")
            .arg(presentation);
    QString why;
    if (IsFolder(pdf))
        why = QStringLiteral("a folder of that name stands there");
    else
        why = WhyFolderIsNotWritable(QFileInfo(pdf).absolutePath());
    if (why.isEmpty())
        return QString();
    return QStringLiteral("The earlier %1 cannot be replaced (%2), so the PDF of %3 cannot be written there.")
        .arg(pdf, why, presentation);
}

namespace {
// The rows of a list in the message, cut after a few with a count.
QString listed(const QStringList& rows)
{
    QString text;
    for (int i = 0; i < rows.size() && i < kNamedFailures; ++i)
        text += QStringLiteral("\r\n") + rows[i];
    if (rows.size() > kNamedFailures)
        text += QStringLiteral("\r\n... and %1 more.").arg(rows.size() - kNamedFailures);
    return text;
}
} // namespace

QString DoneMessage(int rows, const QStringList& failed, const QStringList& replaced, const QStringList& reflowed,
                    const QStringList& lacking)
{
    QString text = texts::kDone;
    if (!failed.isEmpty())
        text +=
            QStringLiteral("\r\n\r\n%1 of %2 presentations gave no PDF:").arg(failed.size()).arg(rows) + listed(failed);
    if (!replaced.isEmpty())
        text += (replaced.size() == 1
                     ? QStringLiteral("\r\n\r\nThe PDF of 1 presentation was replaced by a later one of the same name:")
                     : QStringLiteral("\r\n\r\nThe PDFs of %1 presentations were replaced by later ones of the same "
                                      "name:")
                           .arg(replaced.size())) +
                listed(replaced);
    if (!reflowed.isEmpty())
        text += (reflowed.size() == 1 ? QStringLiteral("\r\n\r\n1 presentation was printed in fonts other than it "
                                                       "asks for, of other widths; its lines may wrap differently:")
                                      : QStringLiteral("\r\n\r\n%1 presentations were printed in fonts other than "
                                                       "they ask for, of other widths; their lines may wrap "
                                                       "differently:")
                                            .arg(reflowed.size())) +
                listed(reflowed);
    if (!lacking.isEmpty())
        text += (lacking.size() == 1 ? QStringLiteral("\r\n\r\n1 presentation has letters that no installed font "
                                                      "has; they print as empty boxes:")
                                     : QStringLiteral("\r\n\r\n%1 presentations have letters that no installed "
                                                      "font has; they print as empty boxes:")
                                           .arg(lacking.size())) +
                listed(lacking);
    return text;
}

bool ExportRun::takeLock()
{
    if (!m_lock)
        return true;
    while (!m_lock->tryLock(m_program)) {
        if (!m_whenHeld || !m_whenHeld(m_lock->holder()))
            return false;
    }
    return true;
}

void ExportRun::PushButton2_Click()
{
    ErrorTrap trap(m_dialogs, tags::kExportRun);
    bool busy = false;
    trap(100, [&] { busy = ExportInProgress; });
    if (busy)
        return;
    trap(102, [&] { ExportInProgress = true; });

    bool stop = false;
    trap(104, [&] { stop = m_host.rowCount() == 0; });
    if (stop) {
        trap(160, [&] { m_dialogs.msgBox(texts::kNoFiles); });
    } else {
        trap(106, [&] { stop = !IsFolder(m_host.outputFolder()); });
        if (stop)
            trap(158, [&] { m_dialogs.msgBox(texts::kNoFolder); });
    }
    if (!stop) {
        QString why;
        trap(107, [&] { why = m_host.whyNothingCanBePrinted(); });
        stop = !why.isEmpty();
        if (stop)
            trap(107, [&] { m_dialogs.msgBox(why, msgbox::kExclamation); });
    }
    // Before the guard: another run's application is not the user's.
    if (!stop)
        stop = !takeLock();
    if (!stop)
        trap(108, [&] { stop = m_automation && WarnIfPowerPointOpen(*m_automation, m_dialogs); });

    m_outcome = {};
    if (!stop) {
        int rows = 0;
        QStringList failed;
        QStringList replaced;
        QStringList reflowed;
        QStringList lacking;
        QStringList written;
        // What the file system calls each PDF this run wrote (device and
        // inode, so two names on a disk that ignores case are one) → its row.
        QHash<QString, QString> writtenBy;
        QHash<QString, QString> pathOf;
        trap(110, [&] { rows = m_host.rowCount(); });
        bool stopped = false;
        for (int i = 1; i <= rows; ++i) {
            if (m_host.stopRequested()) {
                rows = i - 1;
                stopped = true;
                break;
            }
            QString text;
            QString name;
            QString pdf;
            trap(112, [&] { m_host.setMousePointer(kBusyPointer); });
            trap(114, [&] { text = m_host.rowText(i); });
            if (!text.isEmpty() && !m_host.takesRow(text))
                continue;
            // The current number of rows: rows added during the run count here.
            trap(116, [&] {
                const int now = m_host.rowCount();
                if (now <= 0)
                    throw Failure(failure::kDivisionByZero, QStringLiteral("Division by zero"));
                m_host.setProgressValue(static_cast<int>(double(i) / now * 100.0));
            });
            trap(118, [&] { m_host.setProgressText(texts::kProcessing + FileNameOf(text)); });
            trap(120, [&] { m_host.yield(); });
            if (text.isEmpty()) {
                // The row is gone (the list was emptied meanwhile): there is no
                // presentation to export, and no ".pdf" to make.
                failed << QStringLiteral("row %1 (it was removed during the export)").arg(i);
                m_host.rowEnded(i, failed.constLast(), QString(), RowStatus::Skipped);
                continue;
            }
            trap(122, [&] { name = OutputFileName(text); });
            // Nothing is deleted here: an earlier file at the path stays until
            // the printer renames this row's whole PDF over it, so a row that
            // fails leaves it as it was.
            bool ready = false;
            QString before;
            const bool undecodable = HasUndecodableName(text);
            trap(136, [&] {
                if (undecodable)
                    throw Failure(failure::kFileNotFound,
                                  QStringLiteral("%1 cannot be exported: the name of the file is not valid UTF-8, so "
                                                 "it cannot be handed to the presentation application. Rename it to "
                                                 "export it.")
                                      .arg(text));
                const QString folder = m_host.outputFolder();
                const QString subfolder = m_host.subfolderFor(text);
                pdf = folder + (folder.endsWith(kSeparator) ? QString() : QString(kSeparator)) +
                      (subfolder.isEmpty() ? QString() : subfolder + kSeparator) + name;
                if (!subfolder.isEmpty())
                    QDir().mkpath(QFileInfo(pdf).path());
                // The presentation application runs in a folder of its own.
                if (QFileInfo(pdf).isRelative())
                    pdf = QFileInfo(pdf).absoluteFilePath();
                m_host.yield();
                const QString why = WhyPdfCannotGoThere(text, pdf);
                if (!why.isEmpty())
                    throw Failure(failure::kPermissionDenied, why);
                before = FileKey(pdf);
                ready = true;
            });
            if (ready && m_host.isUpToDate(text, pdf)) {
                m_host.rowEnded(i, text, pdf, RowStatus::UpToDate);
                continue;
            }
            bool done = false;
            if (ready)
                trap(138, [&] { done = m_exportOne(text, pdf); });
            if (!done) {
                failed << (undecodable ? text + QStringLiteral(" (its name is not valid UTF-8)") : text);
                m_host.rowEnded(i, text, pdf, ready ? RowStatus::Failed : RowStatus::Skipped);
                continue;
            }
            // A PDF of this run that stood at the path was overwritten by this one.
            if (writtenBy.contains(before)) {
                replaced << writtenBy.take(before);
                written.removeOne(pathOf.take(before));
                m_host.rowReplaced(replaced.constLast());
            }
            const QString now = FileKey(pdf);
            writtenBy.insert(now, text);
            pathOf.insert(now, pdf);
            written << pdf;
            if (!ReflowingStandIns(pdfprinter::RecordedStandIns(pdf)).isEmpty())
                reflowed << text;
            if (!pdfprinter::RecordedLacking(pdf).isEmpty())
                lacking << text;
            m_host.rowEnded(i, text, pdf, RowStatus::Written);
        }
        reflowed.removeIf([&](const QString& row) { return replaced.contains(row); });
        lacking.removeIf([&](const QString& row) { return replaced.contains(row); });
        m_outcome = {rows, written, failed, replaced, stopped, reflowed, lacking};
        m_host.exportFinished(m_outcome);
        trap(142, [&] { m_host.setMousePointer(kDefaultPointer); });
        trap(144, [&] { m_host.setProgressValue(0); });
        trap(146, [&] { m_host.setProgressText(texts::kProgressAtRest); });
        if (!stopped)
            trap(154, [&] { m_dialogs.msgBox(DoneMessage(rows, failed, replaced, reflowed, lacking)); });
    }
    if (m_lock)
        m_lock->unlock();
    trap(162, [&] { ExportInProgress = false; });
}

} // namespace pradelux
