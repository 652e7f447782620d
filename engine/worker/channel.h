// What passes between the engine library and its worker process: the
// caller's locale and the script one way (each its length, then its bytes;
// later a stop request as one byte), the reports the other way as frames, each a kind byte, the
// payload's length and the payload. Texts in a frame end with a NUL byte of
// their own, so a frame read into a buffer hands out zero-terminated texts
// without copying.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tallo::engine::worker {

// The byte the library sends to ask the worker to stop.
inline constexpr char kStopByte = 'C';

enum class FrameKind : char {
    Error = 'E',      // first = message, second = where
    Status = 'S',     // first = text
    Statement = 'T',  // first = text
    Executing = 'B',  // index, total, line; first = the file ("" for the script)
    Done = 'D',       // errors: the run has ended
};

struct Frame {
    FrameKind kind = FrameKind::Done;
    const char* first = "";  // zero-terminated, inside the buffer read
    const char* second = "";
    std::uint64_t index = 0;
    std::uint64_t total = 0;
    std::uint32_t line = 0;
    std::int32_t errors = 0;
};

// A frame that breaks the format: the worker is not the one the library
// was built with.
class ChannelBroken : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

void AppendError(std::string& out, std::string_view message, std::string_view where);
void AppendText(std::string& out, FrameKind kind, std::string_view text);  // Status, Statement
void AppendExecuting(std::string& out, std::uint64_t index, std::uint64_t total, std::uint32_t line,
                     std::string_view file);
void AppendDone(std::string& out, std::int32_t errors);

// The frame at `offset` of `buffer`; false when it is not complete yet. On
// success `offset` moves past it. Throws ChannelBroken for a frame that is
// not well-formed.
bool NextFrame(std::string_view buffer, std::size_t& offset, Frame& frame);

// The script's length as it goes before its bytes.
std::string LengthPrefix(std::uint64_t length);
std::uint64_t ReadLengthPrefix(const char (&bytes)[8]);

}  // namespace tallo::engine::worker
