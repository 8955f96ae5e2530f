// Scripted dialogs: record every box shown and answer from a script.
#pragma once

#include "Dialogs.h"
#include "QtPrint.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <optional>

namespace pradelux::test {

struct ShownBox
{
    QString text;
    QString title;
    int style;
};

// What a dialog was asked with: the prompt or title, and the start folder,
// the preset answer or the filter.
struct AskedDialog
{
    QString prompt;
    QString title;
    QString preset;
};

class FakeDialogs : public Dialogs
{
public:
    QList<OpenFileRequest> fileRequests;
    QList<AskedDialog> folderRequests; // preset: the start folder
    QList<AskedDialog> inputRequests;
    QList<ShownBox> boxes;
    QList<int> answers;       // results of Yes/No boxes, in order; Yes when none left
    QStringList inputAnswers; // answers of input boxes, in order; empty when none left
    QList<QStringList> fileAnswers;
    QStringList folderAnswers;
    std::function<void(const ShownBox&)> onBox;       // runs while a box is "open"
    QList<std::optional<QString>> passwordAnswers;    // typed in, in order; skipped when none left
    QList<std::pair<QString, bool>> passwordRequests; // presentation, again

    QStringList openFiles(const OpenFileRequest& request) override
    {
        fileRequests.append(request);
        return fileAnswers.isEmpty() ? QStringList() : fileAnswers.takeFirst();
    }
    std::optional<QString> askPassword(const QString& presentation, bool again) override
    {
        passwordRequests.append({presentation, again});
        return passwordAnswers.isEmpty() ? std::nullopt : passwordAnswers.takeFirst();
    }
    QString browseForFolder(const QString& prompt, const QString& startFolder) override
    {
        folderRequests.append({prompt, QString(), startFolder});
        return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
    }

    // The line numbers of the error reports shown, in order.
    QList<int> reportedLines() const
    {
        QList<int> lines;
        for (const auto& box : boxes) {
            const qsizetype at = box.text.indexOf(QStringLiteral("at line "));
            if (at >= 0)
                lines << box.text.mid(at + 8, box.text.indexOf(QLatin1Char('\r'), at) - at - 8).toInt();
        }
        return lines;
    }

    QStringList texts() const
    {
        QStringList out;
        for (const auto& b : boxes)
            out << b.text;
        return out;
    }

protected:
    int showMessage(const QString& text, int style, const QString& title) override
    {
        boxes.append({text, title, style});
        if (onBox)
            onBox(boxes.constLast());
        if ((style & 7) == msgbox::kYesNo)
            return answers.isEmpty() ? msgbox::kYes : answers.takeFirst();
        return msgbox::kOk;
    }
    QString askText(const QString& prompt, const QString& title, const QString& preset) override
    {
        inputRequests.append({prompt, title, preset});
        return inputAnswers.isEmpty() ? QString() : inputAnswers.takeFirst();
    }
};

} // namespace pradelux::test
