// The report of an unexpected failure, and the error trap.
#include "ErrorReport.h"

#include "Dialogs.h"
#include "Failure.h"

namespace pradelux {

QString ErrorReportText(const QString& description, const QString& tag, int line)
{
    return description + QStringLiteral("\r\n") + tag + QStringLiteral("at line ") + QString::number(line) +
           QStringLiteral("\r\rPlease email screenshot of this message to ") + kSupportAddress;
}

void ShowErrorReport(Dialogs& dialogs, const QString& description, const QString& tag, int line)
{
    dialogs.msgBox(ErrorReportText(description, tag, line), msgbox::kExclamation, kErrorReportTitle);
}

bool ErrorTrap::operator()(int line, const std::function<void()>& statement)
{
    int number = 0;
    QString description;
    try {
        statement();
        return true;
    } catch (const Failure& f) {
        number = f.number();
        description = f.description();
    } catch (const std::exception& e) {
        number = failure::kInternal;
        description = QString::fromLocal8Bit(e.what());
    }
    ++m_failures;
    if (m_intercept && m_intercept(number, description))
        return false;
    ShowErrorReport(m_dialogs, description, m_tag, line);
    return false;
}

} // namespace pradelux
