// The failures every renderer reports, in the same words: what happened to
// the presentation, for the user.
#pragma once

#include <QString>
#include <QtGlobal>

namespace pradelux::render::client {

[[noreturn]] void ThrowCrashed(const QString& presentation, const QString& how);
[[noreturn]] void ThrowTimedOut(const QString& presentation, int timeoutMs);
[[noreturn]] void ThrowUnreadable(const QString& presentation);
[[noreturn]] void ThrowWrongPassword(const QString& presentation);
[[noreturn]] void ThrowTooMuchMemory(const QString& presentation, qint64 limit);
[[noreturn]] void ThrowTooLarge(const QString& presentation, qint64 limit);
[[noreturn]] void ThrowAbandoned(const QString& presentation);

} // namespace pradelux::render::client
