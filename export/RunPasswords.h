// The passwords a run opens presentations protected by a password with:
// those given before it (the command line's --password-file) and those its
// user types in as the rows come (the window). They are kept for the run
// alone, in this process's memory, and written nowhere.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace pradelux {

class RunPasswords
{
public:
    // Asks the user for presentation's password; again once one typed in
    // for it did not open it. Nothing: the user skips the presentation.
    using Ask = std::function<std::optional<QString>(const QString& presentation, bool again)>;
    explicit RunPasswords(QStringList given = {}, Ask ask = {}) : m_given(std::move(given)), m_ask(std::move(ask)) {}
    ~RunPasswords() { forget(); }
    RunPasswords(const RunPasswords&) = delete;
    RunPasswords& operator=(const RunPasswords&) = delete;

    // The passwords to try next on presentation, one a line: first every
    // one the run has (attempt 0), then each the user types in. Nothing when
    // none are left to try.
    std::optional<QString> next(const QString& presentation, int attempt);
    // Drops them all, their memory overwritten first: the run has ended.
    void forget();

private:
    QStringList m_given;
    Ask m_ask;
    bool m_typedForRow = false; // one was typed in for the row in hand
};

} // namespace pradelux
