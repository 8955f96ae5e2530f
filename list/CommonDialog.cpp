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
        // The dialog picks files in one folder; its path comes first, then the names.
        const QString first = chosen.constFirst();
        const int cut = first.lastIndexOf(kSeparator);
        QString folder = cut > 0 ? first.left(cut) : QString(kSeparator);
        result = folder;
        for (const QString& path : chosen) {
            QString name = path;
            if (path.startsWith(folder + kSeparator))
                name = path.mid(folder.size() + 1);
            else if (folder == QString(kSeparator) && path.startsWith(kSeparator))
                name = path.mid(1);
            result += QChar(0) + name;
        }
    }
    if (result.size() > MaxFileSize)
        throw Failure(kTooManyFilesFailure,
                      QStringLiteral("The chosen file names do not fit in %1 characters").arg(MaxFileSize));
    FileName = result;
}

} // namespace pradelux
