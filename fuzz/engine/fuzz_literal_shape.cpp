// The literal shape reader on arbitrary statements: the input is two
// statements split at the first line feed. The second one's shape, read
// right after the first one's into the same storage (which lays the first
// shape over the second text), must be what reading it alone gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/literal_shape.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string_view first = input.substr(0, split);
    const std::string_view second = split == std::string_view::npos ? first : input.substr(split + 1);
    tallo::engine::LiteralShape reused, alone;
    tallo::engine::ReadLiteralShape(first, reused);
    const bool read = tallo::engine::ReadLiteralShape(second, reused);
    if (read != tallo::engine::ReadLiteralShape(second, alone) || (read && reused != alone))
        std::abort();
    return 0;
}
