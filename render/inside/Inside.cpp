// What runs inside the sandbox before LibreOffice: its bounds and its copy
// of the profile.
#include "Inside.h"
#include "LibreOffice.h"
#include "RenderWorker.h"

#include <QFile>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

namespace pradelux::render::inside {

namespace {
// The most tasks (processes and threads) one LibreOffice may run in its
// sandbox: it runs a few dozen threads, and a fork bomb stops here.
constexpr rlim_t kTasksInside = 256;

// Copies the template to folder (made), its files' times kept, links left
// out. False when it could not be copied whole.
bool copyProfile(const QString& from, const QString& to)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path source = QFile::encodeName(from).toStdString();
    const fs::path target = QFile::encodeName(to).toStdString();
    fs::create_directories(target, error);
    for (auto it = fs::recursive_directory_iterator(source, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        const fs::path copy = target / fs::relative(it->path(), source);
        if (it->is_symlink())
            continue;
        if (it->is_directory())
            fs::create_directory(copy, error);
        else if (it->is_regular_file() && fs::copy_file(it->path(), copy, error))
            fs::last_write_time(copy, it->last_write_time(), error);
    }
    return !error;
}

// Inside the sandbox, before LibreOffice starts: the bound on its tasks (for
// the sandbox's own user, in its own user namespace; nothing inside can
// raise it again) and its copy of the profile. False after saying why.
bool prepareInside(const char* profileTemplate)
{
    const rlimit tasks{kTasksInside, kTasksInside};
    const QString from = QFile::decodeName(profileTemplate);
    QString why;
    if (::setrlimit(RLIMIT_NPROC, &tasks) != 0)
        why = QStringLiteral("the bound on processes could not be set: %1").arg(std::strerror(errno));
    else if (!copyProfile(from, boundary::PrivateProfile()))
        why = QStringLiteral("LibreOffice's profile could not be copied from %1").arg(from);
    if (!why.isEmpty())
        std::fprintf(stderr, "pradelux-render: %s\n", why.toLocal8Bit().constData());
    return why.isEmpty();
}
} // namespace

int RunWithProfile(int argc, char* argv[])
{
    if (argc < 5 || std::strcmp(argv[3], "--") != 0) {
        std::fputs("pradelux-inside --with-profile TEMPLATE -- PROGRAM ARGUMENTS...\n", stderr);
        return 2;
    }
    if (!prepareInside(argv[2]))
        return 6;
    ::execv(argv[4], argv + 4);
    std::fprintf(stderr, "pradelux-render: %s could not be started: %s\n", argv[4], std::strerror(errno));
    return 127;
}

int RunWorker(int argc, char* argv[])
{
    if (argc != 5) {
        std::fputs("pradelux-inside --render-worker FD PROGRAM TEMPLATE\n", stderr);
        return 2;
    }
    if (!prepareInside(argv[4]))
        return 6;
    return RunRenderWorker(std::atoi(argv[2]), QFile::decodeName(argv[3]), boundary::PrivateProfile());
}

} // namespace pradelux::render::inside
