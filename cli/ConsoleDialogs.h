// The program's dialogs on a terminal: every box is written to the error
// output, a question takes its default answer or the one given up front, and
// nothing waits for a person.
#pragma once

#include "Dialogs.h"

#include <QStringList>
#include <QTextStream>
#include <functional>
#include <optional>
#include <utility>

namespace pradelux {

class ConsoleDialogs : public Dialogs
{
public:
    // answer: the answer to every Yes/No question; without it, the box's
    // default (Yes). err: where the boxes go.
    ConsoleDialogs(QTextStream& err, std::optional<bool> answer) : m_err(err), m_answer(answer) {}

    // Runs before a box is written, so a progress line can be ended first.
    std::function<void()> beforeWriting;
    // Error reports are kept for the caller to take (takeReports); while
    // this is set they are not written, and the caller writes what it needs.
    bool holdReports = false;
    // Only reports and questions are written: a job of a larger run leaves
    // the final message to that run.
    bool onlyReports = false;
    QStringList takeReports() { return std::exchange(m_held, {}); }

    // There is no one to pick files or folders.
    QStringList openFiles(const OpenFileRequest&) override { return {}; }
    QString browseForFolder(const QString&, const QString&) override { return {}; }

protected:
    int showMessage(const QString& text, int style, const QString& title) override;
    // The preset answer, as if confirmed.
    QString askText(const QString&, const QString&, const QString& preset) override { return preset; }

private:
    QTextStream& m_err;
    std::optional<bool> m_answer;
    QStringList m_held;
};

} // namespace pradelux
