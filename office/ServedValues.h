// What the presentation application's objects share: their names, and how
// a value crosses the bus.
#pragma once

#include "AutomationProtocol.h"
#include "Failure.h"

#include <QDBusObjectPath>
#include <QString>
#include <QVariant>

namespace pradelux::office::served {

inline const QString kName = QStringLiteral("Microsoft PowerPoint");
inline const QString kPresentationsPath = protocol::kRootPath + QStringLiteral("/Presentations");

inline QVariant nothing()
{
    return QVariant::fromValue<uchar>(0);
}
inline QVariant objectAt(const QString& path)
{
    return QVariant::fromValue(QDBusObjectPath(path));
}

[[noreturn]] inline void noMember(const QString& object, const QString& member)
{
    throw Failure(failure::kNoSuchMember,
                  QStringLiteral("Object doesn't support this property or method: %1.%2").arg(object, member));
}

inline QString signatureOf(const QVariant& v)
{
    switch (v.metaType().id()) {
    case QMetaType::Bool:
        return QStringLiteral("Boolean (b)");
    case QMetaType::Short:
        return QStringLiteral("16-bit integer (n)");
    case QMetaType::Int:
        return QStringLiteral("32-bit integer (i)");
    case QMetaType::Double:
        return QStringLiteral("Double (d)");
    case QMetaType::QString:
        return QStringLiteral("String (s)");
    case QMetaType::UChar:
        return QStringLiteral("Empty");
    default:
        return QString::fromLatin1(v.typeName());
    }
}

// The value of a property write, checked against the type the property takes.
inline QVariant expect(const QString& member, const QVariant& value, QMetaType::Type type)
{
    if (value.metaType().id() != type)
        throw Failure(failure::kTypeMismatch,
                      QStringLiteral("Type mismatch: %1 takes a %2, not a %3")
                          .arg(member, signatureOf(QVariant(QMetaType(type))), signatureOf(value)));
    return value;
}

inline bool is(const QString& member, const char* name)
{
    return member.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

inline bool isRead(int kind)
{
    return kind == protocol::kPropertyGet || kind == protocol::kMethod;
}

} // namespace pradelux::office::served
