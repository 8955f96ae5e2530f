// The per-user registry kept as folders and files under the config folder.
#include "Registry.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace pradelux {

namespace {
// One name of a key path or a value as a file name: "/" and "%" are escaped,
// and the names "." and ".." cannot be formed.
QString fileNameOf(const QString& name)
{
    QString out;
    for (QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('%'))
            out += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    if (out == QLatin1String(".") || out == QLatin1String(".."))
        out.replace(QLatin1Char('.'), QStringLiteral("%2e"));
    return out;
}
} // namespace

FileRegistry::FileRegistry(QString root) : m_root(root.isEmpty() ? defaultRoot() : std::move(root)) {}

QString FileRegistry::defaultRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Veltrande/registry/HKEY_CURRENT_USER");
}

QString FileRegistry::folderOf(const QString& subKey) const
{
    QString path = m_root;
    const QStringList parts = subKey.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString& part : parts)
        path += QLatin1Char('/') + fileNameOf(part);
    return path;
}

long FileRegistry::createKey(const QString& subKey, Key* key)
{
    if (!key || subKey.split(QLatin1Char('\\'), Qt::SkipEmptyParts).isEmpty())
        return registry::kInvalidParameter;
    const QString folder = folderOf(subKey);
    if (!QDir().mkpath(folder))
        return registry::kAccessDenied;
    *key = m_next++;
    m_open.insert(*key, folder);
    return registry::kSuccess;
}

long FileRegistry::setStringValue(Key key, const QString& name, const QString& text)
{
    const auto it = m_open.constFind(key);
    if (it == m_open.constEnd())
        return registry::kInvalidHandle;
    const QString path = *it + QLatin1Char('/') + (name.isEmpty() ? QStringLiteral("%default") : fileNameOf(name));
    const QByteArray value = text.toUtf8();
    // A value that stands as given already is left alone: an export sets the
    // printer's values for every presentation, and each write is flushed to
    // the disk.
    QFile current(path);
    if (current.open(QIODevice::ReadOnly) && current.size() == value.size() && current.readAll() == value)
        return registry::kSuccess;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return registry::kAccessDenied;
    file.write(value);
    return file.commit() ? registry::kSuccess : registry::kAccessDenied;
}

long FileRegistry::closeKey(Key key)
{
    return m_open.remove(key) ? registry::kSuccess : registry::kInvalidHandle;
}

std::optional<QString> FileRegistry::readString(const QString& subKey, const QString& name) const
{
    QFile file(folderOf(subKey) + QLatin1Char('/') + (name.isEmpty() ? QStringLiteral("%default") : fileNameOf(name)));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.readAll());
}

} // namespace pradelux
