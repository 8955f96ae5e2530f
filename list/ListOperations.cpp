// The operations that fill and empty the presentation list.
#include "ListOperations.h"

#include "AddFolder.h"
#include "CommonDialog.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "EventLoop.h"
#include "Files.h"
#include "ListHost.h"
#include "Paths.h"
#include "PresentationList.h"
#include "SettingsStore.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace pradelux {

void PushButton1_Click(ListContext& context, CommonDialog& dialog)
{
    ErrorTrap trap(context.dialogs, tags::kAddFiles);
    bool tooMany = false;
    trap.setIntercept([&](int number, const QString&) {
        if (number != kTooManyFilesFailure)
            return false;
        context.dialogs.msgBox(texts::kTooManyFiles, msgbox::kOkOnly);
        tooMany = true;
        return true;
    });
    trap(100, [&] { dialog.FileName.clear(); });
    trap(102, [&] { dialog.Flags = texts::kAddFilesFlags; });
    trap(104, [&] { dialog.DialogTitle = texts::kAddFilesTitle; });
    trap(106, [&] { dialog.Filter = texts::kAddFilesFilter; });
    trap(108, [&] { dialog.ShowOpen(); });
    if (tooMany)
        return;
    QString result;
    trap(110, [&] { result = dialog.FileName; });
    if (result.isEmpty())
        return;
    QStringList pieces;
    trap(112, [&] { pieces = result.split(QChar(0)); });
    if (pieces.size() == 1) {
        QString path;
        trap(116, [&] { path = pieces[0]; });
        trap(118, [&] { context.list.AppendEntry(path); });
        return;
    }
    for (int i = 1; i < pieces.size(); ++i) {
        QString path;
        trap(128, [&] { path = pieces[0] + kSeparator + pieces[i]; });
        trap(130, [&] { path = CollapseBackslashes(path); });
        trap(132, [&] { context.list.AppendEntry(path); });
    }
}

void PushButton4_Click(ListContext& context)
{
    ErrorTrap trap(context.dialogs, tags::kFolderScan);
    QString answer;
    trap(100, [&] {
        answer = context.dialogs.inputBox(texts::kExtensionPrompt, QString(),
                                          context.settings.ReadSetting(settings::kExtension, QStringLiteral("ppt")));
        if (!answer.isEmpty())
            context.settings.WriteSetting(settings::kExtension, answer);
    });
    if (answer.isEmpty())
        return;
    QString remembered;
    QString chosen;
    trap(104, [&] { remembered = context.settings.ReadSetting(settings::kLastFolder, QString()); });
    trap(104, [&] { chosen = BrowseForFolder(context.dialogs, texts::kFolderPrompt, remembered); });
    if (chosen.isEmpty())
        return;
    trap(333, [&] { remembered = chosen; });
    trap(334, [&] { context.settings.WriteSetting(settings::kLastFolder, chosen); });
    trap(108, [&] { context.host.setMousePointer(pointer::kBusy); });
    FolderList folders;
    trap(110, [&] { folders = FolderList{chosen + kSeparator}; });
    ThrottledYield yield([&] { context.host.yield(); });
    trap(112, [&] {
        FolderScanState state{context.dialogs, std::ref(yield), {}, {}};
        GetSubDirectories2016(folders, true, state);
    });
    AppendMatchingFiles(
        folders, QStringLiteral("*.") + answer, [&](const QStringList& rows) { context.list.AppendEntries(rows); },
        std::ref(trap), std::ref(yield));
    trap(130, [&] { context.host.setMousePointer(pointer::kDefault); });
}

void PushButton5_Click(ListContext& context)
{
    ErrorTrap trap(context.dialogs, tags::kClearList);
    trap(100, [&] { context.list.ClearEntries(context.host); });
}

void AddCommandLinePaths(ListContext& context, const QStringList& arguments)
{
    QStringList paths;
    QStringList neither;
    for (const QString& argument : arguments) {
        const QFileInfo info(argument);
        if (info.isFile() || info.isDir())
            paths << info.absoluteFilePath();
        else
            neither << argument;
    }
    // As a file manager's "Open With" passes them: a folder brings its
    // presentations, not every file in it.
    DropHandler(context, nullptr).Drop(paths, kPresentationPatterns);
    if (!neither.isEmpty())
        context.dialogs.msgBox(texts::kNotAdded + QStringLiteral("\r\n") + neither.join(QStringLiteral("\r\n")));
}

void DropHandler::Drop(const QStringList& paths, const QString& pattern)
{
    ErrorTrap trap(m_context.dialogs, texts::kDropTag);
    for (const QString& d : paths) {
        bool folder = false;
        trap(100, [&] { folder = IsFolder(d); });
        if (!folder) {
            trap(108, [&] { m_context.list.AppendEntry(d); });
            continue;
        }
        FolderList folders{d + kSeparator};
        ThrottledYield yield([&] { m_context.host.yield(); });
        trap(104, [&] {
            FolderScanState state{m_context.dialogs, std::ref(yield), {}, {}};
            GetSubDirectories2016(folders, true, state);
        });
        AppendMatchingFiles(
            folders, pattern, [&](const QStringList& rows) { m_context.list.AppendEntries(rows); },
            std::ref(trap), std::ref(yield));
    }
}

namespace {
// Only a list of local files may be dropped.
QStringList droppedFiles(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        paths << url.toLocalFile();
    }
    return paths;
}
} // namespace

bool DropHandler::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        // The list only reads the files: the drop is always a copy, never a
        // move that would let the source delete them.
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (droppedFiles(drag->mimeData()).isEmpty() || !(drag->possibleActions() & Qt::CopyAction)) {
            drag->setDropAction(Qt::IgnoreAction);
            drag->ignore();
        } else {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = droppedFiles(drop->mimeData());
        if (paths.isEmpty() || !(drop->possibleActions() & Qt::CopyAction)) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        Drop(paths);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace pradelux
