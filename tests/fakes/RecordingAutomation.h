// An automation fake that records every call made on its objects, with the
// types of the values, so tests can assert the exact sequence.
#pragma once

#include "Automation.h"
#include "Failure.h"
#include "QtPrint.h"

#include <QMap>
#include <QStringList>
#include <map>
#include <vector>

namespace pradelux::test {

inline QString describe(const Value& v)
{
    if (v.type() == Value::Type::Object)
        return QStringLiteral("Object");
    return v.typeName() + QLatin1Char(':') + v.toText();
}

class RecordingAutomation;

class RecordingObject : public Dispatch, public std::enable_shared_from_this<RecordingObject>
{
public:
    RecordingObject(RecordingAutomation& owner, QString name) : m_owner(owner), m_name(std::move(name)) {}
    Value get(const QString& member, const Arguments& args) override;
    void put(const QString& member, const Value& value) override;
    Value call(const QString& member, const Arguments& args) override;
    const QString& name() const { return m_name; }

private:
    RecordingAutomation& m_owner;
    QString m_name;
};

class RecordingAutomation : public Automation
{
public:
    QStringList log;
    // "Object.Member" -> failure to raise when that member is used.
    std::map<QString, Failure> failures;
    // "Object.Member" -> value a get returns (objects are made on demand).
    QMap<QString, Value> values;
    std::function<void(const QString&)> onCall;
    bool createFails = false;
    bool getFails = false;
    // Every object handed out, to check that none is kept alive afterwards.
    std::vector<std::weak_ptr<Dispatch>> handedOut;

    bool allReleased() const
    {
        for (const auto& w : handedOut)
            if (!w.expired())
                return false;
        return true;
    }

    ObjectRef createObject(const QString& progId) override
    {
        log << QStringLiteral("CreateObject %1").arg(progId);
        if (createFails)
            throw Failure(failure::kCannotCreateObject, QStringLiteral("ActiveX component can't create object"));
        return keep(std::make_shared<RecordingObject>(*this, QStringLiteral("Application")));
    }
    ObjectRef getObject(const QString& progId) override
    {
        log << QStringLiteral("GetObject %1").arg(progId);
        if (getFails)
            throw Failure(failure::kCannotCreateObject, QStringLiteral("ActiveX component can't create object"));
        return keep(std::make_shared<RecordingObject>(*this, QStringLiteral("RunningApplication")));
    }

    ObjectRef keep(ObjectRef object)
    {
        handedOut.push_back(object);
        return object;
    }

    void record(const QString& object, const QString& line, const QString& member)
    {
        log << line;
        if (onCall)
            onCall(line);
        const QString key = object + QLatin1Char('.') + member;
        if (auto it = failures.find(key); it != failures.end())
            throw it->second;
    }
};

inline Value RecordingObject::get(const QString& member, const Arguments&)
{
    m_owner.record(m_name, QStringLiteral("%1.get %2").arg(m_name, member), member);
    const QString key = m_name + QLatin1Char('.') + member;
    if (m_owner.values.contains(key))
        return m_owner.values.value(key);
    return Value(m_owner.keep(std::make_shared<RecordingObject>(m_owner, member)));
}

inline void RecordingObject::put(const QString& member, const Value& value)
{
    m_owner.record(m_name, QStringLiteral("%1.put %2 = %3").arg(m_name, member, describe(value)), member);
}

inline Value RecordingObject::call(const QString& member, const Arguments& args)
{
    QStringList parts;
    for (const auto& a : args)
        parts << (a.name.isEmpty() ? QString() : a.name + QStringLiteral(":=")) + describe(a.value);
    m_owner.record(m_name, QStringLiteral("%1.call %2(%3)").arg(m_name, member, parts.join(QStringLiteral(", "))),
                   member);
    return Value(ObjectRef(std::make_shared<RecordingObject>(m_owner, member + QStringLiteral("Result"))));
}

} // namespace pradelux::test
