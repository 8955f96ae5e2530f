// Late-bound automation: values, objects reached by member name, and the
// application factory (create a new application, attach to a running one).
#pragma once

#include <QList>
#include <QString>
#include <memory>
#include <variant>

namespace pradelux {

class Dispatch;
using ObjectRef = std::shared_ptr<Dispatch>;

// A value crossing the automation boundary. Integer widths are distinct types
// because servers check them.
class Value
{
public:
    enum class Type { Empty, Bool, Int16, Int32, Double, Text, Object };

    Value() = default;
    Value(const QString& text) : m_data(text) {}
    Value(const char* text) : m_data(QString::fromUtf8(text)) {}
    Value(ObjectRef object) : m_data(std::move(object)) {}
    static Value boolean(bool b) { return Value(Data(b)); }
    static Value int16(qint16 v) { return Value(Data(v)); }
    static Value int32(qint32 v) { return Value(Data(v)); }
    static Value real(double v) { return Value(Data(v)); }

    Type type() const { return static_cast<Type>(m_data.index()); }
    bool isEmpty() const { return type() == Type::Empty; }
    // Conversions fail with "Type mismatch" when the value has another type.
    bool toBool() const;
    qint16 toInt16() const;
    qint32 toInt32() const;
    double toDouble() const;
    QString toText() const;
    ObjectRef toObject() const;
    QString typeName() const;

    bool operator==(const Value& other) const;

private:
    using Data = std::variant<std::monostate, bool, qint16, qint32, double, QString, ObjectRef>;
    explicit Value(Data d) : m_data(std::move(d)) {}
    Data m_data;
};

// One argument of a call; a non-empty name passes it by name.
struct Argument
{
    Value value;
    QString name;
};
using Arguments = QList<Argument>;

// An automation object. The empty member name is the default property.
class Dispatch
{
public:
    virtual ~Dispatch() = default;
    virtual Value get(const QString& member, const Arguments& args = {}) = 0;
    virtual void put(const QString& member, const Value& value) = 0;
    virtual Value call(const QString& member, const Arguments& args = {}) = 0;

    // Shorthand for a property that holds an object.
    ObjectRef object(const QString& member) { return get(member).toObject(); }
};

class Automation
{
public:
    virtual ~Automation() = default;
    // A new application of the class, or the running one for a single-instance
    // server. Fails when the class cannot be started.
    virtual ObjectRef createObject(const QString& progId) = 0;
    // The running application of the class; fails when none runs.
    virtual ObjectRef getObject(const QString& progId) = 0;
};

} // namespace pradelux
