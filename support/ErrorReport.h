// The report of an unexpected failure, and the trap that shows it and lets the
// operation go on with its next statement.
#pragma once

#include <QString>
#include <functional>

namespace pradelux {

class Dialogs;

namespace tags {
inline const QString kHelp = QStringLiteral("in Slidora2021/08/31.Form1.PushButton3_Click ");
inline const QString kAddFiles = QStringLiteral("in Slidora2021/08/31.Form1.PushButton1_Click ");
inline const QString kExportRun = QStringLiteral("in Slidora2021/08/31.Form1.PushButton2_Click ");
inline const QString kFolderScan = QStringLiteral("in Slidora2021/08/31.Form1.PushButton4_Click ");
inline const QString kFormLoad = QStringLiteral("in Slidora2021/08/31.Form1.Form_Load ");
inline const QString kClearList = QStringLiteral("in Slidora2021/08/31.Form1.PushButton5_Click ");
inline const QString kSamples = QStringLiteral("in Slidora2021/08/31.Form1.PushButton6_Click ");
inline const QString kOutputFolder = QStringLiteral("in Slidora2021/08/31.Form1.PushButton7_Click ");
inline const QString kSubDirectories = QStringLiteral("in MorvaneTitle2021/08/31.AddFolder.GetSubDirectories2016 ");
inline const QString kDoPPT = QStringLiteral("in Slidora2021/08/31.PowerPoint.DoPPT ");
} // namespace tags

inline const QString kSupportAddress = QStringLiteral("support@pradelux.veltrande.example");
inline const QString kErrorReportTitle = QStringLiteral("Application Error");

QString ErrorReportText(const QString& description, const QString& tag, int line);
void ShowErrorReport(Dialogs& dialogs, const QString& description, const QString& tag, int line);

// Runs the numbered statements of one operation. A statement that throws shows
// the ErrorReport with the operation's tag and the statement's number; the
// caller then goes on with its next statement.
class ErrorTrap
{
public:
    ErrorTrap(Dialogs& dialogs, QString tag) : m_dialogs(dialogs), m_tag(std::move(tag)) {}

    // Returns true when the statement ran without failing.
    bool operator()(int line, const std::function<void()>& statement);

    // A handler that sees a failure first; returning true means it dealt with
    // the failure and no ErrorReport is shown.
    using Intercept = std::function<bool(int number, const QString& description)>;
    void setIntercept(Intercept intercept) { m_intercept = std::move(intercept); }

    int failures() const { return m_failures; }

private:
    Dialogs& m_dialogs;
    QString m_tag;
    Intercept m_intercept;
    int m_failures = 0;
};

} // namespace pradelux
