// The per-user settings of the program.
#include "SettingsStore.h"

#include "Failure.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace pradelux {

namespace {
const QString kSection = QStringLiteral("Pradelux");
}

SettingsStore::SettingsStore(QString file) : m_file(file.isEmpty() ? defaultFile() : std::move(file)) {}

QString SettingsStore::defaultFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Veltrande/Pradelux.ini");
}

QString SettingsStore::ReadSetting(const QString& key, const QString& defaultValue) const
{
    QSettings store(m_file, QSettings::IniFormat);
    if (store.status() == QSettings::FormatError)
        throw Failure(failure::kPathFileAccess, QStringLiteral("The settings file %1 cannot be read").arg(m_file));
    const QString path = kSection + QLatin1Char('/') + key;
    if (!store.contains(path))
        return defaultValue;
    return store.value(path).toString();
}

void SettingsStore::WriteSetting(const QString& key, const QString& text)
{
    QDir().mkpath(QFileInfo(m_file).absolutePath());
    QSettings store(m_file, QSettings::IniFormat);
    store.setValue(kSection + QLatin1Char('/') + key, text);
    store.sync();
    if (store.status() != QSettings::NoError)
        throw Failure(failure::kPathFileAccess,
                      QStringLiteral("The setting %1 could not be written to %2").arg(key, m_file));
}

} // namespace pradelux
