// The one way this program starts a child: the descriptors it is to have,
// set on purpose at numbers of its own (every other one closed), the signals
// as a new program expects them, bound to end with this process when asked,
// and a program that could not be run told back as an error.
#pragma once

#include <QByteArray>
#include <QList>

#include <functional>
#include <sys/types.h>

namespace pradelux {

// A descriptor that closes itself; -1 holds none.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }
    int get() const { return m_fd; }
    // Gives the descriptor up, to be closed by whoever takes it.
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

struct ChildStart
{
    // A descriptor of this process (or kNull: /dev/null) at a number in the
    // child; untilExec: kept for what runs before the program (prepare),
    // closed when it starts.
    static constexpr int kNull = -2;
    struct Given
    {
        int from;
        int to;
        bool untilExec = false;
    };
    // The standard input and output are /dev/null and the error output is
    // this process's unless given here; nothing else is kept.
    QList<Given> given = {};
    // Killed when this process ends (its thread that starts the child must
    // live as long).
    bool endsWithParent = true;
    // A session of its own: no terminal's Ctrl+C reaches it.
    bool ownSession = false;
    // Runs in the child once its descriptors are set, before the program;
    // false ends the child (status 126).
    std::function<bool()> prepare = {};
    // Runs here once the child is forked, before its program is waited for
    // (what prepare waits for is done here).
    std::function<void(pid_t)> forked = {};
};

// For a child just forked: it is killed when parent (this program's
// process that forked it) ends; false when parent has ended already.
bool DiesWithParent(pid_t parent);

// Starts argv[0] (a path; with search, looked up in PATH) with argv and, when
// environment is not empty, that environment ("NAME=value"). Its process
// id; -1 with errno set when it could not be forked or the program not run.
pid_t StartProgram(const QList<QByteArray>& argv, const ChildStart& how, const QList<QByteArray>& environment = {},
                   bool search = false);

// Forks a child that runs body and ends with the status it returns, never
// unwinding anything of this process's. Its process id; -1 when it could
// not be forked.
pid_t ForkChild(const ChildStart& how, const std::function<int()>& body);

} // namespace pradelux
