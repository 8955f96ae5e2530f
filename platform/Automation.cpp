// Value conversions of the automation layer.
#include "Automation.h"

#include "Failure.h"

namespace pradelux {

namespace {
[[noreturn]] void mismatch(const Value& v, const char* wanted)
{
    throw Failure(failure::kTypeMismatch,
                  QStringLiteral("Type mismatch: %1 where %2 was expected").arg(v.typeName(), QLatin1String(wanted)));
}
} // namespace

bool Value::toBool() const
{
    if (auto p = std::get_if<bool>(&m_data))
        return *p;
    mismatch(*this, "Boolean");
}

qint16 Value::toInt16() const
{
    if (auto p = std::get_if<qint16>(&m_data))
        return *p;
    mismatch(*this, "Integer");
}

qint32 Value::toInt32() const
{
    if (auto p = std::get_if<qint32>(&m_data))
        return *p;
    if (auto p = std::get_if<qint16>(&m_data))
        return *p;
    mismatch(*this, "Long");
}

double Value::toDouble() const
{
    if (auto p = std::get_if<double>(&m_data))
        return *p;
    if (auto p = std::get_if<qint32>(&m_data))
        return *p;
    if (auto p = std::get_if<qint16>(&m_data))
        return *p;
    mismatch(*this, "Double");
}

QString Value::toText() const
{
    switch (type()) {
    case Type::Text:
        return std::get<QString>(m_data);
    case Type::Empty:
        return QString();
    case Type::Bool:
        return std::get<bool>(m_data) ? QStringLiteral("True") : QStringLiteral("False");
    case Type::Int16:
        return QString::number(std::get<qint16>(m_data));
    case Type::Int32:
        return QString::number(std::get<qint32>(m_data));
    case Type::Double:
        return QString::number(std::get<double>(m_data));
    case Type::Object:
        break;
    }
    mismatch(*this, "String");
}

ObjectRef Value::toObject() const
{
    if (auto p = std::get_if<ObjectRef>(&m_data); p && *p)
        return *p;
    throw Failure(failure::kObjectRequired, QStringLiteral("Object required"));
}

QString Value::typeName() const
{
    static const char* const names[] = {"Empty", "Boolean", "Integer", "Long", "Double", "String", "Object"};
    return QLatin1String(names[m_data.index()]);
}

bool Value::operator==(const Value& other) const
{
    return m_data == other.m_data;
}

} // namespace pradelux
