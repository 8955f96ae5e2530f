// The per-user printer list.
#include "Printers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace pradelux {

UserPrinters::UserPrinters(QString file) : m_file(file.isEmpty() ? defaultFile() : std::move(file)) {}

QString UserPrinters::defaultFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Veltrande/printers.json");
}

UserPrinters::State UserPrinters::load() const
{
    State state;
    QFile file(m_file);
    if (!file.open(QIODevice::ReadOnly))
        return state;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    for (const QJsonValue& v : root.value(QLatin1String("printers")).toArray()) {
        const QJsonObject p = v.toObject();
        state.printers.append({p.value(QLatin1String("name")).toString(), p.value(QLatin1String("port")).toString()});
    }
    state.defaultName = root.value(QLatin1String("default")).toString();
    return state;
}

bool UserPrinters::save(const State& state) const
{
    QJsonArray list;
    for (const auto& p : state.printers)
        list.append(QJsonObject{{QLatin1String("name"), p.name}, {QLatin1String("port"), p.port}});
    const QJsonObject root{{QLatin1String("printers"), list}, {QLatin1String("default"), state.defaultName}};
    QDir().mkpath(QFileInfo(m_file).absolutePath());
    QSaveFile file(m_file);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(root).toJson());
    return file.commit();
}

QList<PrinterInfo> UserPrinters::installed() const
{
    return load().printers;
}

QString UserPrinters::defaultPrinter() const
{
    return load().defaultName;
}

bool UserPrinters::install(const QString& name, const QString& port)
{
    if (name.isEmpty())
        return false;
    State state = load();
    bool found = false;
    for (auto& p : state.printers) {
        if (p.name == name) {
            p.port = port;
            found = true;
        }
    }
    if (!found)
        state.printers.append({name, port});
    if (state.defaultName.isEmpty())
        state.defaultName = name;
    return save(state);
}

bool UserPrinters::remove(const QString& name)
{
    State state = load();
    const auto removed = state.printers.removeIf([&](const PrinterInfo& p) { return p.name == name; });
    if (removed == 0)
        return false;
    if (state.defaultName == name)
        state.defaultName = state.printers.isEmpty() ? QString() : state.printers.constFirst().name;
    return save(state);
}

bool UserPrinters::setDefault(const QString& name)
{
    State state = load();
    for (const auto& p : state.printers) {
        if (p.name == name) {
            state.defaultName = name;
            return save(state);
        }
    }
    return false;
}

} // namespace pradelux
