// The export run.
#include "ExportRun.h"

#include "Dialogs.h"
#include "ErrorReport.h"
#include "FileSystem.h"
#include "Files.h"
#include "InstanceGuard.h"

#include <QFile>

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

void DeleteFileIfPresent(const QString& path, const std::function<void()>& yield)
{
    if (yield)
        yield();
    if (IsFolder(path) || QFile::remove(path))
        return;
    try {
        FileSystemObject().DeleteFile(path, true);
    } catch (...) {
        // Nothing to delete, or it cannot go: the export finds out either way.
    }
}

QString DoneMessage(int rows, const QStringList& failed)
{
    if (failed.isEmpty())
        return texts::kDone;
    QString text =
        texts::kDone + QStringLiteral("\r\n\r\n%1 of %2 presentations gave no PDF:").arg(failed.size()).arg(rows);
    for (int i = 0; i < failed.size() && i < kNamedFailures; ++i)
        text += QStringLiteral("\r\n") + failed[i];
    if (failed.size() > kNamedFailures)
        text += QStringLiteral("\r\n... and %1 more.").arg(failed.size() - kNamedFailures);
    return text;
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
    if (!stop)
        trap(108, [&] { stop = m_automation && WarnIfPowerPointOpen(*m_automation, m_dialogs); });

    if (!stop) {
        int rows = 0;
        QStringList failed;
        trap(110, [&] { rows = m_host.rowCount(); });
        for (int i = 1; i <= rows; ++i) {
            QString text;
            QString name;
            QString pdf;
            trap(112, [&] { m_host.setMousePointer(kBusyPointer); });
            trap(114, [&] { text = m_host.rowText(i); });
            // The current number of rows: rows added during the run count here.
            trap(116, [&] { m_host.setProgressValue(static_cast<int>(double(i) / m_host.rowCount() * 100.0)); });
            trap(118, [&] { m_host.setProgressText(texts::kProcessing + FileNameOf(text)); });
            trap(120, [&] { m_host.yield(); });
            trap(122, [&] { name = OutputFileName(text); });
            trap(136, [&] {
                const QString folder = m_host.outputFolder();
                pdf = folder + (folder.endsWith(kSeparator) ? QString() : QString(kSeparator)) + name;
                DeleteFileIfPresent(pdf, [&] { m_host.yield(); });
            });
            bool written = false;
            trap(138, [&] { written = m_exportOne(text, pdf); });
            if (!written)
                failed << text;
        }
        trap(142, [&] { m_host.setMousePointer(kDefaultPointer); });
        trap(144, [&] { m_host.setProgressValue(0); });
        trap(146, [&] { m_host.setProgressText(texts::kProgressAtRest); });
        trap(154, [&] { m_dialogs.msgBox(DoneMessage(rows, failed)); });
    }
    trap(162, [&] { ExportInProgress = false; });
}

} // namespace pradelux
