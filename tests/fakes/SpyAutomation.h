// Passes every call on to a real automation backend and records the property
// writes, so end-to-end tests can see what reached the application.
#pragma once

#include "Automation.h"
#include "RecordingAutomation.h"

#include <QStringList>

namespace pradelux::test {

class SpyObject : public Dispatch
{
public:
    SpyObject(ObjectRef real, QStringList& log) : m_real(std::move(real)), m_log(log) {}
    Value get(const QString& member, const Arguments& args) override { return wrap(m_real->get(member, args)); }
    void put(const QString& member, const Value& value) override
    {
        m_real->put(member, value);
        m_log << QStringLiteral("put %1 = %2").arg(member, describe(value));
    }
    Value call(const QString& member, const Arguments& args) override { return wrap(m_real->call(member, args)); }

private:
    Value wrap(const Value& v)
    {
        return v.type() == Value::Type::Object ? Value(ObjectRef(std::make_shared<SpyObject>(v.toObject(), m_log))) : v;
    }
    ObjectRef m_real;
    QStringList& m_log;
};

class SpyAutomation : public Automation
{
public:
    explicit SpyAutomation(Automation& real) : m_real(real) {}
    QStringList puts;
    ObjectRef createObject(const QString& progId) override
    {
        return std::make_shared<SpyObject>(m_real.createObject(progId), puts);
    }
    ObjectRef getObject(const QString& progId) override
    {
        return std::make_shared<SpyObject>(m_real.getObject(progId), puts);
    }

private:
    Automation& m_real;
};

} // namespace pradelux::test
