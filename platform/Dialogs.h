// Message boxes, the input box, the open-file dialog and the folder browser.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace pradelux {

// Message box styles and results in the values callers pass and compare.
namespace msgbox {
constexpr int kOkOnly = 0;
constexpr int kYesNo = 4;
constexpr int kExclamation = 48;
constexpr int kOk = 1;
constexpr int kYes = 6;
constexpr int kNo = 7;
} // namespace msgbox

struct OpenFileRequest
{
    QString title;
    QString filter; // "Description|pattern;pattern|..." pairs
    QString initialName;
    bool multiSelect = false;
};

class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // Shows a modal message box; an empty title shows the application title.
    // Returns kOk, kYes or kNo. Texts keep their CR and LF characters here.
    int msgBox(const QString& text, int style = msgbox::kOkOnly, const QString& title = QString())
    {
        return showMessage(text, style, title.isEmpty() ? m_applicationTitle : title);
    }
    // Returns the answer, or empty text when cancelled.
    QString inputBox(const QString& prompt, const QString& title, const QString& preset)
    {
        return askText(prompt, title.isEmpty() ? m_applicationTitle : title, preset);
    }
    // The chosen files, none when cancelled.
    virtual QStringList openFiles(const OpenFileRequest& request) = 0;
    // The chosen folder, or empty text when cancelled.
    virtual QString browseForFolder(const QString& prompt, const QString& startFolder) = 0;
    // The password of a presentation protected by one, typed into a field
    // that shows none of it; again when one typed before did not open it.
    // Nothing when the user skips it; nobody to ask answers nothing.
    virtual std::optional<QString> askPassword(const QString& /*presentation*/, bool /*again*/) { return std::nullopt; }

    void setApplicationTitle(const QString& title) { m_applicationTitle = title; }
    const QString& applicationTitle() const { return m_applicationTitle; }

protected:
    virtual int showMessage(const QString& text, int style, const QString& title) = 0;
    virtual QString askText(const QString& prompt, const QString& title, const QString& preset) = 0;

private:
    QString m_applicationTitle;
};

// Turns CR LF, lone CR and lone LF into plain line breaks, as the boxes and
// the terminal show them.
QString DisplayText(const QString& text);

} // namespace pradelux
