// CommonDialog1: the open-file dialog.
#include "CommonDialog.h"

#include "Dialogs.h"
#include "Failure.h"
#include "Paths.h"

namespace pradelux {

void CommonDialog::ShowOpen()
{
    OpenFileRequest request;
    request.title = DialogTitle;
    request.filter = Filter;
    request.initialName = FileName;
    request.multiSelect = (Flags & kAllowMultiSelect) != 0;
    const QStringList chosen = m_dialogs.openFiles(request);

    QString result;
    if (chosen.size() == 1) {
        result = chosen.constFirst();
    } else if (chosen.size() > 1) {
        // The result is one folder followed by names. Files picked from
        // several folders (through Recent, a search or typed paths) share the
        // folder that holds them all, and each name keeps the rest of its path.
        QString folder = chosen.constFirst().left(qMax(chosen.constFirst().lastIndexOf(kSeparator), 0));
        for (const QString& path : chosen) {
            while (!folder.isEmpty() && !path.startsWith(folder + kSeparator))
                folder = folder.left(qMax(folder.lastIndexOf(kSeparator), 0));
        }
        // Empty text here is the root: its names keep everything after "/".
        result = folder.isEmpty() ? QString(kSeparator) : folder;
        for (const QString& path : chosen)
            result += QChar(0) + path.mid(folder.size() + 1);
    }
    if (result.size() > MaxFileSize)
        throw Failure(kTooManyFilesFailure,
                      QStringLiteral("The chosen file names do not fit in %1 characters").arg(MaxFileSize));
    FileName = result;
}

} // namespace pradelux
