#include "packing/text_files.h"

#include <new>

#include "base/errors.h"
#include "base/platform.h"
#include "packing/streams.h"

namespace tallo {

std::string ReadTextFile(const std::string& name, std::size_t spare) {
    std::int64_t size = 0;
    platform::File file = OpenForReading(name, platform::Share::ReadWrite, &size);
    int error = 0;
    if (static_cast<std::uint64_t>(size) > kMaxContentSize)
        throw OutOfMemoryFailure();
    std::string text;
    try {
        text.reserve(static_cast<std::size_t>(size) + spare);
        text.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        throw OutOfMemoryFailure();
    }
    if (size > 0) {
        std::int64_t got = file.Read(text.data(), text.size(), &error);
        if (got < 0)
            throw ReadFailure();
        // The file shrank since its size was taken: keep what is there
        // rather than padding the text with bytes the file never had.
        text.resize(static_cast<std::size_t>(got));
    }
    return text;
}

}  // namespace tallo
