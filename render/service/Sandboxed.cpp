// One program run in a sandbox of its own, and the check that one can be
// made here.
#include "Channel.h"
#include "Files.h"
#include "ProcessTree.h"
#include "Root.h"
#include "SandboxCheck.h"
#include "Service.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace pradelux::render::service {

int RunSandboxed(int argc, char* argv[])
{
    const char* usage =
        "pradelux-render --run-sandboxed PRESENTATION OUTFOLDER TEMPLATE [--link FILE]... -- PROGRAM ARGUMENTS...\n";
    QStringList links;
    int separator = 5;
    for (; separator + 1 < argc && std::strcmp(argv[separator], "--link") == 0; separator += 2)
        links << QFile::decodeName(argv[separator + 1]);
    if (argc < separator + 2 || std::strcmp(argv[separator], "--") != 0) {
        std::fputs(usage, stderr);
        return 2;
    }
    // The program's folder, and that of a program it runs in turn (after a
    // "--" of its own: LibreOffice after its profile is copied).
    QStringList programs = {ProgramFolderOf(QFile::decodeName(argv[separator + 1]))};
    for (int i = separator + 2; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            programs << ProgramFolderOf(QFile::decodeName(argv[i + 1]));
    }
    QString why;
    Deck deck;
    std::unique_ptr<Root> root = Root::make(boundary::RendererPlan(programs, QFile::decodeName(argv[4])), &why);
    if (!root) {
        boundary::ForgetWorks();
        std::fprintf(stderr, "pradelux-render: LibreOffice cannot be run safely here: %s\n",
                     why.toLocal8Bit().constData());
        return 5;
    }
    if (!deck.open(QFile::decodeName(argv[2]), links, &why) ||
        !root->show(deck, QFileInfo(QFile::decodeName(argv[3])).absoluteFilePath(), &why)) {
        std::fprintf(stderr, "pradelux-render: %s\n", why.toLocal8Bit().constData());
        return boundary::kNotShownStatus;
    }
    QStringList command;
    for (int i = separator + 1; i < argc; ++i)
        command << QFile::decodeName(argv[i]);
    // What it says goes to the error output, up to a bound.
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return 6;
    const pid_t pid = root->start(command, -1, &why, output[1]);
    ::close(output[1]);
    if (pid < 0) {
        std::fprintf(stderr, "pradelux-render: %s\n", why.toLocal8Bit().constData());
        return 6;
    }
    boundary::OutputDrain drain(output[0], STDERR_FILENO);
    for (bool open = true; open;) {
        pollfd p{output[0], POLLIN, 0};
        if (::poll(&p, 1, -1) > 0 || errno != EINTR)
            open = drain.drain();
    }
    return WaitForExit(pid);
}

int CheckSandbox()
{
    QString why;
    std::unique_ptr<Root> root = Root::make(boundary::CheckPlan(), &why);
    const pid_t pid = root ? root->start({QStringLiteral("/bin/true")}, -1, &why) : -1;
    if (pid > 0 && WaitForExit(pid) == 0)
        return 0;
    boundary::ForgetWorks();
    if (why.isEmpty())
        why = QStringLiteral("bubblewrap could not start it");
    std::fprintf(stderr, "%s\n", boundary::RefusedText(why).toLocal8Bit().constData());
    return 5;
}

} // namespace pradelux::render::service
