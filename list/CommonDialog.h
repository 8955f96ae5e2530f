// CommonDialog1: the open-file dialog with the properties the add-files
// operation sets, returning its choice in one text.
#pragma once

#include <QString>

namespace pradelux {

class Dialogs;

constexpr int kTooManyFilesFailure = 20476;
constexpr int kAllowMultiSelect = 0x200;

class CommonDialog
{
public:
    explicit CommonDialog(Dialogs& dialogs) : m_dialogs(dialogs) {}

    QString FileName;
    int Flags = 0;
    QString DialogTitle;
    // Pairs of description and pattern, each followed by "|".
    QString Filter;
    int MaxFileSize = 30000;

    // Shows the dialog. FileName becomes the one chosen path, or the folder,
    // a NUL and the names separated by NULs for several files, or empty text
    // when cancelled. Throws failure 20476 when the names do not fit in
    // MaxFileSize characters.
    void ShowOpen();

private:
    Dialogs& m_dialogs;
};

} // namespace pradelux
