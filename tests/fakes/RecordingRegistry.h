// A registry fake that writes every call into a shared log.
#pragma once

#include "Registry.h"

#include <QStringList>

namespace pradelux::test {

class RecordingRegistry : public Registry
{
public:
    explicit RecordingRegistry(QStringList& log) : m_log(log) {}

    long createKey(const QString& subKey, Key* key) override
    {
        m_log << QStringLiteral("registry create %1").arg(subKey);
        *key = 7;
        return registry::kSuccess;
    }
    long setStringValue(Key key, const QString& name, const QString& text) override
    {
        m_log << QStringLiteral("registry set %1 %2 = %3").arg(key).arg(name, text);
        return registry::kSuccess;
    }
    long closeKey(Key key) override
    {
        m_log << QStringLiteral("registry close %1").arg(key);
        return registry::kSuccess;
    }
    std::optional<QString> readString(const QString&, const QString&) const override { return std::nullopt; }

private:
    QStringList& m_log;
};

} // namespace pradelux::test
