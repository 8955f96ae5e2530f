// The failures every renderer reports, in the same words.
#include "Failures.h"

#include "Failure.h"
#include "ProcessTree.h"

namespace pradelux::render::client {

void ThrowCrashed(const QString& presentation, const QString& how)
{
    throw Failure(failure::kAutomationError,
                  QStringLiteral("LibreOffice %1 while printing %2, so no PDF was made. Try again; if it happens "
                                 "again, the file may be one LibreOffice cannot handle.")
                      .arg(how, presentation));
}

void ThrowTimedOut(const QString& presentation, int timeoutMs)
{
    throw Failure(failure::kAutomationError,
                  QStringLiteral("LibreOffice did not finish printing %1 within %2 seconds and was stopped.")
                      .arg(presentation)
                      .arg(timeoutMs / 1000));
}

void ThrowTooMuchMemory(const QString& presentation, qint64 limit)
{
    throw Failure(failure::kAutomationError,
                  QStringLiteral("%1 needed more than %2 of memory to print, so LibreOffice was stopped.")
                      .arg(presentation, MemoryText(limit)));
}

void ThrowUnreadable(const QString& presentation)
{
    throw Failure(failure::kAutomationError,
                  QStringLiteral("LibreOffice could not print %1: the file is damaged, protected by a password, "
                                 "or not a presentation it can read.")
                      .arg(presentation));
}

void ThrowWrongPassword(const QString& presentation)
{
    throw Failure(failure::kAutomationError,
                  QStringLiteral("PowerPoint can't open %1: %2, and %3.")
                      .arg(presentation, failure::kProtectedByPassword, failure::kNoPasswordOpens));
}

void ThrowAbandoned(const QString& presentation)
{
    throw Failure(
        failure::kAutomationError,
        QStringLiteral("%1 was not printed: the session ended while LibreOffice printed it.").arg(presentation));
}

void ThrowTooLarge(const QString& presentation, qint64 limit)
{
    throw Failure(failure::kAutomationError, QStringLiteral("%1 made a PDF larger than %2, so LibreOffice was stopped.")
                                                 .arg(presentation, MemoryText(limit)));
}

} // namespace pradelux::render::client
