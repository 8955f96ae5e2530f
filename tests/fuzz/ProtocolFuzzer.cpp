// libFuzzer entry for the readers of what the processes of a rendering say
// to each other: the worker and the page count speak from inside the
// sandbox, or from a PDF that may be crafted. No line may crash a reader,
// and what a reader takes must be written back as the same message.
#include "Protocol.h"

#include <cstdint>
#include <cstdlib>

using namespace pradelux::render::boundary;

namespace {
template <typename Message>
void roundTrip(const QByteArray& line)
{
    const std::optional<Message> read = Message::read(line);
    if (!read)
        return;
    const std::optional<Message> again = Message::read(read->line());
    if (!again || again->line() != read->line())
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray line(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    roundTrip<Request>(line);
    roundTrip<Answer>(line);
    roundTrip<Job>(line);
    roundTrip<Done>(line);
    roundTrip<Ready>(line);
    roundTrip<CountAsk>(line);
    const PdfFacts facts = PdfFacts::read(line);
    if (facts.pages >= 0 && PdfFacts::read(facts.line()).line() != facts.line())
        std::abort();
    return 0;
}
