// The slides of a PowerPoint document stream.
#include "PowerPointRecords.h"

namespace pradelux::office {

using ppt::Cursor;
using ppt::each;
using ppt::Record;

int PptSlides(const StreamByte& byteAt, quint64 size)
{
    constexpr quint64 kDocument = 0x03E8;
    constexpr quint64 kSlideList = 0x0FF0;
    constexpr quint64 kSlidePersist = 0x03F3;
    Record document;
    int documents = 0;
    // The stream may end in padding after its last record.
    each(byteAt, 0, size, [&](const Record& r) {
        if (r.type == kDocument && documents++ == 0)
            document = r;
    });
    if (documents != 1)
        return -1;
    int lists = 0;
    int slides = 0;
    bool listsWhole = true;
    const bool whole = each(byteAt, document.body(), document.end, [&](const Record& r) {
        if (r.type != kSlideList || r.instance != 0)
            return;
        ++lists;
        listsWhole = each(byteAt, r.body(), r.end,
                          [&](const Record& inner) { slides += inner.type == kSlidePersist ? 1 : 0; }) &&
                     listsWhole;
    });
    // A document without slides has no list of them.
    return whole && listsWhole && lists <= 1 ? slides : -1;
}

} // namespace pradelux::office
