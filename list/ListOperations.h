// The operations that fill and empty the presentation list: the add-files
// dialog, the folder scan, dropped files and folders, and "Clear List".
#pragma once

#include <QObject>
#include <QString>

namespace pradelux {

class CommonDialog;
class Dialogs;
class ListHost;
class PresentationList;
class SettingsStore;

namespace texts {
inline const QString kAddFilesTitle = QStringLiteral("Add File(s) - Use Ctrl & Shift to select multiple files");
inline const QString kAddFilesFilter = QStringLiteral("PowerPoint Files (*.p*)|*.p*|All Files (*.*)|*.*|");
constexpr int kAddFilesFlags = 2621953;
inline const QString kTooManyFiles =
    QStringLiteral("You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button.");
inline const QString kExtensionPrompt = QStringLiteral(
    "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all doc files, etc.)");
inline const QString kFolderPrompt = QStringLiteral("Please select folder:");
// The drop has no trap of its own; its failures are reported under this tag.
inline const QString kDropTag = QStringLiteral("in Slidora2021/08/31.Form1.ListView1_OLEDragDrop ");
inline const QString kNotAdded =
    QStringLiteral("These are neither files nor folders, so they were not added to the list:");
} // namespace texts

struct ListContext
{
    PresentationList& list;
    ListHost& host;
    Dialogs& dialogs;
    SettingsStore& settings;
};

// "Add PowerPoint File(s)".
void PushButton1_Click(ListContext& context, CommonDialog& dialog);
// "Add All Files In Folder".
void PushButton4_Click(ListContext& context);
// "Clear List".
void PushButton5_Click(ListContext& context);

// Files and folders given on the command line (a file manager's "Open With"):
// added as a drop adds them; what is neither a file nor a folder is named in
// one message.
void AddCommandLinePaths(ListContext& context, const QStringList& arguments);

// Files and folders dropped on the list. Installed on the list's viewport:
// refuses anything but local files while dragging, and adds them when dropped.
class DropHandler : public QObject
{
public:
    DropHandler(ListContext context, QObject* parent) : QObject(parent), m_context(context) {}
    // Files are added as they are; folders are scanned for pattern.
    void Drop(const QStringList& paths, const QString& pattern = QStringLiteral("*.*"));

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ListContext m_context;
};

} // namespace pradelux
