// A private config and cache folder for one test, and environment variables
// that are put back when the test ends.
#pragma once

#include "QtPrint.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <utility>

namespace pradelux::test {

class ScopedEnv
{
public:
    ScopedEnv(const char* name, const QByteArray& value) : m_name(name), m_had(qEnvironmentVariableIsSet(name))
    {
        m_old = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

// Writes a file, making its folders first.
// The bytes of every file below folder.
inline qint64 treeSize(const QString& folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext())
        total += it.nextFileInfo().size();
    return total;
}

inline QString readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

inline bool writeFile(const QString& path, QFileDevice::Permissions permissions = {}, const QByteArray& content = {})
{
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(content);
    f.close();
    return !permissions || f.setPermissions(permissions);
}

class TempConfig
{
public:
    // The system's config folders too, so that nothing installed on the
    // machine (a printer list for every user) reaches a test.
    TempConfig()
        : m_config("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8()),
          m_systemConfig("XDG_CONFIG_DIRS", m_dir.filePath(QStringLiteral("system-config")).toUtf8())
    {
    }
    QString path(const QString& name = QString()) const { return name.isEmpty() ? m_dir.path() : m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    ScopedEnv m_config;
    ScopedEnv m_systemConfig;
};

} // namespace pradelux::test
