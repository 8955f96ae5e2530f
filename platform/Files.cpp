// Small file tests used across the program.
#include "Files.h"

#include <QCoreApplication>
#include <QFile>

#include <sys/stat.h>

namespace pradelux {

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

bool IsFolder(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString AppFolder()
{
    return QCoreApplication::applicationDirPath();
}

} // namespace pradelux
