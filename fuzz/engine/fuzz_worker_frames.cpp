// The worker's frames as the library reads them: arbitrary bytes are read
// frame by frame without reading past the buffer (a broken frame is
// refused), and frames made from the input's own pieces read back as made.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/worker/channel.h"

using namespace tallo::engine::worker;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::size_t offset = 0;
    Frame frame;
    try {
        while (NextFrame(bytes, offset, frame)) {
        }
    } catch (const ChannelBroken&) {
    }
    if (offset > bytes.size())
        std::abort();

    // Round trip: the input cut in two texts (each up to its first NUL, as
    // the frames keep them) and a number.
    const std::string_view all(bytes);
    const std::size_t half = size / 2;
    std::string_view first = all.substr(0, half), second = all.substr(half);
    first = first.substr(0, first.find('\0'));
    second = second.substr(0, second.find('\0'));
    std::uint64_t number = 0;
    std::memcpy(&number, bytes.data(), std::min<std::size_t>(size, sizeof number));
    std::string out;
    AppendError(out, first, second);
    AppendText(out, FrameKind::Statement, second);
    AppendExecuting(out, number, ~number, static_cast<std::uint32_t>(number >> 7), first);
    AppendDone(out, static_cast<std::int32_t>(number));
    offset = 0;
    Frame e, t, x, d;
    if (!NextFrame(out, offset, e) || !NextFrame(out, offset, t) || !NextFrame(out, offset, x) ||
        !NextFrame(out, offset, d) || offset != out.size())
        std::abort();
    if (e.kind != FrameKind::Error || e.first != first || e.second != second || t.second[0] != '\0' ||
        t.first != second || x.index != number || x.total != ~number ||
        x.line != static_cast<std::uint32_t>(number >> 7) || x.first != first ||
        d.errors != static_cast<std::int32_t>(number))
        std::abort();
    return 0;
}
