// The file check in a process of its own, bounded in time, memory and what
// it may ask of the system: it reads the one file it is given and writes its
// answer, and is killed for anything else.
#include "PresentationFile.h"

#include "ChildStart.h"
#include "Confinement.h"
#include "DeckXml.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pradelux::office {

namespace {
// What the check may use beyond what the process that forks it holds.
constexpr rlim_t kCheckMemory = rlim_t(1) << 30;

FileKind notCheckable()
{
    return {FileKind::Damaged, QStringLiteral("it could not be read to the end")};
}

// The answer as it crosses the pipe: the verdict and the slides, the reason,
// the letters ("?" when not known), then each link, each after a NUL (which
// none holds).
QByteArray answerOf(const FileKind& kind)
{
    QByteArray answer =
        char('0' + kind.verdict) + QByteArray::number(kind.slides) + '|' + kind.why.toUtf8() + '\0' +
        (kind.letters ? QString::fromUcs4(kind.letters->constData(), kind.letters->size()).toUtf8() : QByteArray("?"));
    for (const QString& link : kind.links)
        answer += '\0' + link.toUtf8();
    return answer;
}

FileKind kindOf(const QByteArray& answer)
{
    const qsizetype bar = answer.indexOf('|');
    bool counted = false;
    const int slides = bar > 1 ? answer.mid(1, bar - 1).toInt(&counted) : 0;
    if (answer.isEmpty() || answer[0] < '0' || answer[0] > '0' + FileKind::Protected || !counted)
        return notCheckable();
    const QList<QByteArray> parts = answer.mid(bar + 1).split('\0');
    if (parts.size() < 2)
        return notCheckable();
    QStringList links;
    for (qsizetype i = 2; i < parts.size() && links.size() < kLinksMax; ++i)
        links << QString::fromUtf8(parts[i]);
    std::optional<QList<char32_t>> letters;
    if (parts[1] != "?") {
        letters.emplace();
        for (const uint c : QString::fromUtf8(parts[1]).toUcs4()) {
            if (letters->size() < DeckLetters::kMost)
                *letters << static_cast<char32_t>(c);
        }
    }
    return {static_cast<FileKind::Verdict>(answer[0] - '0'), QString::fromUtf8(parts[0]), slides, links, letters};
}
} // namespace

FileKind InspectPresentationApart(int fd, qint64 unpackLimit, int timeoutMs, FileCheck check)
{
    int pipe[2];
    // No process, no check: the file is not read here.
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return notCheckable();
    const UniqueFd answers(pipe[0]);
    const pid_t child = ForkChild({{{fd, fd}, {pipe[1], pipe[1]}}}, [&] {
        const rlim_t seconds = rlim_t(timeoutMs / 1000 + 1);
        if (!platform::Confine({{fd}, {pipe[1]}, kCheckMemory, seconds, platform::Confinement::Killed}))
            return 3;
        const QByteArray answer = answerOf(check(fd, unpackLimit));
        (void)!::write(pipe[1], answer.constData(), static_cast<size_t>(answer.size()));
        return 0;
    });
    ::close(pipe[1]);
    if (child < 0)
        return notCheckable();
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        pollfd p{answers.get(), POLLIN, 0};
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR))
            break;
        char chunk[4096];
        const ssize_t n = (p.revents & (POLLIN | POLLHUP)) ? ::read(answers.get(), chunk, sizeof chunk) : 0;
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 && (p.revents & (POLLIN | POLLHUP)))
            break;
        answer.append(chunk, n > 0 ? n : 0);
    }
    const bool late = clock.elapsed() >= timeoutMs;
    ::kill(child, SIGKILL);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (late && answer.isEmpty())
        return {FileKind::TookTooLong, {}};
    return kindOf(answer);
}

std::optional<SlidesPastTheEnd> SlidesPastEveryEnd(const QStringList& files,
                                                   const QList<printoutput::SlideRange>& slides)
{
    if (slides.isEmpty())
        return std::nullopt;
    const int first = printoutput::HighestStart(slides);
    int most = -1;
    for (const QString& file : files) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            continue;
        const FileKind kind = InspectPresentationApart(fd, UnpackLimit(), 60000);
        ::close(fd);
        if (kind.verdict != FileKind::Presentation)
            continue;
        if (kind.slides < 0 || kind.slides >= first)
            return std::nullopt;
        most = qMax(most, kind.slides);
    }
    if (most < 0)
        return std::nullopt;
    return SlidesPastTheEnd{first, most};
}

} // namespace pradelux::office
