// The printer lists: the user's own and those for every user.
#include "Printers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace pradelux {

UserPrinters::UserPrinters(QString file, QStringList systemFiles)
    : m_file(file.isEmpty() ? defaultFile() : std::move(file)), m_systemFiles(std::move(systemFiles))
{
}

QStringList UserPrinters::defaultSystemFiles()
{
    // The first location is the user's own config folder.
    QStringList files;
    const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    for (int i = 1; i < folders.size(); ++i)
        files << folders[i] + QStringLiteral("/Veltrande/printers.json");
    return files;
}

QString UserPrinters::defaultFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Veltrande/printers.json");
}

UserPrinters::State UserPrinters::load(const QString& path)
{
    State state;
    QFile file(path);
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
    QList<PrinterInfo> all = load().printers;
    for (const QString& file : m_systemFiles) {
        for (PrinterInfo p : load(file).printers) {
            const bool known =
                std::any_of(all.begin(), all.end(), [&](const PrinterInfo& q) { return q.name == p.name; });
            if (!known) {
                p.system = true;
                all.append(p);
            }
        }
    }
    return all;
}

QString UserPrinters::defaultPrinter() const
{
    const QString own = load().defaultName;
    if (!own.isEmpty())
        return own;
    for (const QString& file : m_systemFiles) {
        const QString name = load(file).defaultName;
        if (!name.isEmpty())
            return name;
    }
    return QString();
}

bool UserPrinters::isSystemPrinter(const QString& name) const
{
    for (const PrinterInfo& p : installed()) {
        if (p.name == name)
            return p.system;
    }
    return false;
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
    for (const auto& p : installed()) {
        if (p.name == name) {
            state.defaultName = name;
            return save(state);
        }
    }
    return false;
}

} // namespace pradelux
