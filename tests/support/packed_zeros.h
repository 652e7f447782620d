// A zlib bomb for the tests: a packed file of many zero bytes, made in a few
// milliseconds without packing them all.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace tallo::testing {

// One zlib stream (level 9) of mib MiB of zero bytes, mib >= 1. After a sync
// flush deflate's output for each further MiB of zeros is the same bytes, so
// that piece is repeated; the Adler-32 of n zero bytes is
// (n mod 65521) << 16 | 1. About 1 KB per MiB: 4 MB unpack to 4 GB.
inline std::string PackedZeros(std::size_t mib) {
    z_stream zs{};
    if (deflateInit(&zs, 9) != Z_OK)
        throw std::runtime_error("deflateInit");
    std::string zeros(std::size_t{1} << 20, '\0');
    auto piece = [&](bool input, int flush) {
        std::string out(std::size_t{1} << 16, '\0');
        zs.next_in = reinterpret_cast<Bytef*>(zeros.data());
        zs.avail_in = input ? static_cast<uInt>(zeros.size()) : 0;
        zs.next_out = reinterpret_cast<Bytef*>(out.data());
        zs.avail_out = static_cast<uInt>(out.size());
        if (deflate(&zs, flush) < 0 || zs.avail_in != 0 || zs.avail_out == 0)
            throw std::runtime_error("deflate");
        out.resize(out.size() - zs.avail_out);
        return out;
    };
    std::string packed = piece(true, Z_SYNC_FLUSH);
    const std::string next = piece(true, Z_SYNC_FLUSH);
    std::string last = piece(false, Z_FINISH);
    deflateEnd(&zs);
    for (std::size_t i = 1; i < mib; ++i)
        packed += next;
    last.resize(last.size() - 4);  // the Adler-32 of two MiB
    packed += last;
    const std::uint32_t adler =
        static_cast<std::uint32_t>(((static_cast<std::uint64_t>(mib) << 20) % 65521) << 16 | 1);
    for (int shift = 24; shift >= 0; shift -= 8)
        packed += static_cast<char>(adler >> shift);
    return packed;
}

}  // namespace tallo::testing
