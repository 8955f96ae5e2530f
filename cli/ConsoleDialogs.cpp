// The program's dialogs on a terminal.
#include "ConsoleDialogs.h"

namespace pradelux {

int ConsoleDialogs::showMessage(const QString& text, int style, const QString& title)
{
    const QString shown = DisplayText(text);
    if ((style & 0x30) == msgbox::kExclamation) {
        m_held << title + QStringLiteral(":\n") + shown;
        if (holdReports)
            return msgbox::kOk;
    }
    if (onlyReports && (style & 0x30) != msgbox::kExclamation && (style & 0x7) != msgbox::kYesNo)
        return msgbox::kOk;
    if (beforeWriting)
        beforeWriting();
    // An error report is one block: its text, location and line.
    if ((style & 0x30) == msgbox::kExclamation)
        m_err << title << ":\n";
    m_err << shown << '\n';
    int result = msgbox::kOk;
    if ((style & 0x7) == msgbox::kYesNo) {
        const bool yes = m_answer.value_or(true);
        m_err << "Answered: " << (yes ? "Yes" : "No") << (m_answer ? "" : " (the default)") << '\n';
        result = yes ? msgbox::kYes : msgbox::kNo;
    }
    m_err.flush();
    return result;
}

} // namespace pradelux
