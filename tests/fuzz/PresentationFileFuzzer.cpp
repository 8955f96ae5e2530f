// Feeds arbitrary bytes to the check of what a file holds, through both of
// its ways in: the bytes themselves and a file read with pread.
#include "PresentationFile.h"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A small budget, so that an input that unpacks to the budget ends fast.
    constexpr qint64 kBudget = 64 << 20;
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const pradelux::office::FileKind fromMemory = pradelux::office::InspectPresentationData(bytes, kBudget);
    static const int fd = ::memfd_create("fuzz", 0);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    const pradelux::office::FileKind fromFile = pradelux::office::InspectPresentationFile(fd, kBudget);
    // Both ways in judge alike.
    if (size > 0 && (fromMemory.verdict != fromFile.verdict || fromMemory.why != fromFile.why ||
                     fromMemory.slides != fromFile.slides))
        std::abort();
    return 0;
}
