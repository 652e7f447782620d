// Unpacks arbitrary bytes as a packed file: any input must end in content or
// in one of the tool's failures, never in a crash, a leak or a hang. Each
// input also packs as content and must come back unchanged, and a damaged
// copy of that packed form must unpack or fail cleanly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "packing/zip_file.h"

namespace {

// A limit of 1 MiB, so that inputs which expand far meet the refusal.
void UnpackQuietly(tallo::MemoryStream& source) {
    try {
        tallo::MemoryStream content;
        tallo::UnpackAll(source, content, std::size_t{1} << 20);
    } catch (const tallo::Failure&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tallo::MemoryStream raw;
    raw.Write(data, size);
    UnpackQuietly(raw);
    try {
        raw.SetPosition(0);
        (void)tallo::UnpackAllToText(raw);
    } catch (const tallo::Failure&) {
    }

    tallo::MemoryStream packed;
    tallo::PackAll(reinterpret_cast<const char*>(data), size, packed);
    tallo::MemoryStream back;
    tallo::UnpackAll(packed, back);
    if (back.Size() != size || (size != 0 && std::memcmp(back.Data(), data, size) != 0))
        std::abort();

    if (size >= 2 && packed.Size() > 2) {
        // Flip one byte of the packed form, chosen by the input itself.
        std::size_t at = (data[0] * 256u + data[1]) % packed.Size();
        const_cast<char*>(packed.Data())[at] ^= static_cast<char>(data[size - 1] | 1);
        UnpackQuietly(packed);
    }
    return 0;
}
