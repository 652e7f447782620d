// What passes between the engine library and its worker process. Through
// their channel, from the library: for each run a request (kRequestByte,
// then the current folder, the locale, the environment and the script
// file's folder, each its length and its bytes, and the script's length),
// the pieces of the script the worker asks for (kPieceByte, the length and
// the bytes), and perhaps a stop request (kStopByte); from the worker
// wake-up bytes and requests for pieces of the script (kFetchByte, the
// offset and the length). The script stays in the caller's memory: the
// worker holds a window of it at a time. Through a ring of memory both map:
// the reports, as frames, each a kind byte, the payload's length and the
// payload. A frame in the ring is the library's once it is there, even when
// the worker dies right after, and putting it there costs no system call.
// Texts in a frame end with a NUL byte of their own, so a frame read into a
// buffer hands out zero-terminated texts without copying.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/failure.h"

namespace tallo::engine::worker {

// The bytes the library sends to start a run and to stop it.
inline constexpr char kRequestByte = 'R';
inline constexpr char kStopByte = 'C';
inline constexpr char kPieceByte = 'P';
// The worker asks for bytes of the script so.
inline constexpr char kFetchByte = 'F';
inline constexpr std::size_t kFetchBytes = 1 + 8 + 8;
// The environment variables Firebird reads when it is loaded begin so.
inline constexpr const char* kFirebirdPrefix = "FIREBIRD";
// The byte the worker sends to have the ring read at once (at the run's end,
// or when the ring is full).
inline constexpr char kWakeByte = 'W';

// The ring's layout in the shared memory: the two positions, each on a
// cache line of its own, then kRingBytes of frames. Positions count bytes
// since the start and never wrap; a byte's place is its position modulo
// kRingBytes.
inline constexpr std::size_t kRingBytes = std::size_t(512) << 10;
struct RingHeader {
    alignas(64) std::atomic<std::uint64_t> head{0};  // written up to here (the worker)
    alignas(64) std::atomic<std::uint64_t> tail{0};  // taken up to here (the library)
};
inline constexpr std::size_t kRingMapping = sizeof(RingHeader) + kRingBytes;
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

// The worker's end: appends bytes; false when the ring has no room for all
// of them now (nothing is written then).
bool RingPut(void* mapping, std::string_view bytes);
// The library's end: moves every byte written so far to the end of `into`.
void RingTake(void* mapping, std::string& into);

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
class ChannelBroken : public EngineFailure {
  public:
    using EngineFailure::EngineFailure;
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
