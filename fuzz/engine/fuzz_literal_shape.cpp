// The literal shape reader on arbitrary statements: the input is two
// statements split at the first line feed. The second one's shape, read
// right after the first one's into the same storage (which lays the first
// shape over the second text), must be what reading it alone gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/literal_shape.h"

namespace {

bool Same(const tallo::engine::LiteralShape& a, const tallo::engine::LiteralShape& b) {
    if (a.text != b.text || a.markers != b.markers || a.literals.size() != b.literals.size())
        return false;
    for (std::size_t i = 0; i < a.literals.size(); ++i) {
        const tallo::engine::Literal &x = a.literals[i], &y = b.literals[i];
        if (x.kind != y.kind || x.compared != y.compared || x.value != y.value || x.scale != y.scale ||
            x.bytes != y.bytes || x.charset != y.charset || x.year != y.year || x.month != y.month ||
            x.day != y.day || x.hour != y.hour || x.minute != y.minute || x.second != y.second ||
            x.fraction != y.fraction)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string_view first = input.substr(0, split);
    const std::string_view second = split == std::string_view::npos ? first : input.substr(split + 1);
    tallo::engine::LiteralShape reused, alone;
    tallo::engine::ReadLiteralShape(first, reused);
    const bool read = tallo::engine::ReadLiteralShape(second, reused);
    if (read != tallo::engine::ReadLiteralShape(second, alone) || (read && !Same(reused, alone)))
        std::abort();
    return 0;
}
