// A child gets the descriptors it is given, at the numbers it is given them,
// and none of this process's others; a program that cannot run is an error.
#include "ChildStart.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pradelux;

namespace {
QByteArray readAll(int fd)
{
    QByteArray all;
    char buffer[256];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        all.append(buffer, n);
    return all;
}

int exitOf(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
} // namespace

TEST(ChildStart, AChildHasTheDescriptorsItIsGivenAndNoOther)
{
    // Open without being closed on exec, as a library might leave one.
    const UniqueFd leak(::open("/dev/null", O_RDWR));
    ASSERT_GE(leak.get(), 3);
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    const UniqueFd reading(out[0]);

    // Forked: which of the first 64 numbers it holds.
    const pid_t forked = ForkChild({{{out[1], out[1]}}}, [&] {
        QByteArray open = "open:";
        for (int fd = 0; fd < 64; ++fd) {
            if (::fcntl(fd, F_GETFD) >= 0)
                open += ' ' + QByteArray::number(fd);
        }
        open += ';';
        return ::write(out[1], open.constData(), size_t(open.size())) == open.size() ? 0 : 1;
    });
    ASSERT_GT(forked, 0);
    const struct
    {
        const char* what;
        QList<QByteArray> argv;
        QList<ChildStart::Given> given;
        int status;
        QByteArray said;
    } programs[] = {
        {"a descriptor at a number of its own", {"/bin/sh", "-c", "echo given >&7"}, {{out[1], 7}}, 0, "given\n"},
        {"one kept only until the program starts", {"/bin/sh", "-c", "echo kept >&8"}, {{out[1], 8, true}}, 2, ""},
        {"one of this process's not given",
         {"/bin/sh", "-c", "echo leaked >&" + QByteArray::number(leak.get())},
         {},
         2,
         ""},
    };
    std::vector<pid_t> started;
    for (const auto& p : programs)
        started.push_back(StartProgram(p.argv, {p.given}));
    ::close(out[1]);
    EXPECT_EQ(exitOf(forked), 0);
    for (size_t i = 0; i < started.size(); ++i)
        EXPECT_EQ(exitOf(started[i]), programs[i].status) << programs[i].what;
    // What each wrote, in whatever order.
    const QByteArray said = readAll(reading.get());
    EXPECT_TRUE(said.contains("open: 0 1 2 " + QByteArray::number(out[1]) + ";")) << said.toStdString();
    EXPECT_TRUE(said.contains("given\n")) << said.toStdString();
    EXPECT_FALSE(said.contains("kept") || said.contains("leaked")) << said.toStdString();

    errno = 0;
    EXPECT_EQ(StartProgram({"/no/such/program"}, {}), -1);
    EXPECT_EQ(errno, ENOENT);
}
