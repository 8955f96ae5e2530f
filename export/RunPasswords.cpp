// The passwords of a run.
#include "RunPasswords.h"

namespace pradelux {

std::optional<QString> RunPasswords::next(const QString& presentation, int attempt)
{
    // Those the run has, all at once: one LibreOffice tries them in turn.
    if (attempt == 0)
        m_typedForRow = false;
    if (attempt == 0 && !m_given.isEmpty())
        return m_given.join(QLatin1Char('\n'));
    if (!m_ask)
        return std::nullopt;
    std::optional<QString> typed = m_ask(presentation, m_typedForRow);
    m_typedForRow = true;
    // A password of several lines would be taken for several passwords.
    if (!typed || typed->isEmpty() || typed->contains(QLatin1Char('\n')))
        return std::nullopt;
    // Tried first on the run's later presentations.
    m_given.prepend(*typed);
    return typed;
}

void RunPasswords::forget()
{
    for (QString& password : m_given)
        password.fill(QChar(0));
    m_given.clear();
}

} // namespace pradelux
