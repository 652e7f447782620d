// Stream adapters between the packed-file routines and zlib: PackWriter
// deflates what is written to it into a target stream, UnpackReader inflates
// a zlib stream read from a source stream.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "packing/streams.h"

namespace tallo {

// Size of the adapters' work buffers.
inline constexpr std::size_t kZipBufferSize = 65536;

// Level selector of PackWriter: zlib levels 0, 1, zlib's default (-1) and 9.
enum class PackLevel { None, Fastest, Default, Max };
int ZlibLevel(PackLevel level);

// What both adapters share: the stream on the other side and where the
// adapter left it (others may move it in between), zlib's state and the work
// buffer. Seeking anywhere but the current position is refused.
class ZlibAdapter : public Stream {
  public:
    // Only the current position is accepted; any other gives ZlibFailure
    // "Invalid stream operation".
    void SetPosition(std::int64_t position) final;

  protected:
    explicit ZlibAdapter(Stream& other);
    // ZlibFailure "Invalid stream operation".
    [[noreturn]] static void Refuse();
    // Puts the other stream back where the adapter left it.
    void ResumeOther();
    // Notes where the other stream stands now.
    void NoteOther() { other_position_ = other_.Position(); }

    Stream& other_;
    std::int64_t other_position_;
    z_stream zs_{};
    bool active_ = false;
    std::unique_ptr<unsigned char[]> buffer_;
};

// Write-only adapter. The packed bytes reach the target in 64 KiB pieces and,
// for the last piece, only at Release, which finishes the stream; the target
// must not be used before that. A writer destroyed without Release (a failure
// on the way) leaves an unfinished stream in the target.
class PackWriter : public ZlibAdapter {
  public:
    // Deflate with the packing settings (window bits 15, memory level 8,
    // default strategy) at the selector's level. ZlibFailure "Error" when
    // zlib refuses.
    PackWriter(PackLevel level, Stream& target);
    ~PackWriter() override;

    // Deflates count bytes; answers count. ZlibFailure "Error" when zlib
    // answers a negative result.
    std::size_t Write(const void* buffer, std::size_t count) override;
    // ZlibFailure "Invalid stream operation".
    std::size_t Read(void*, std::size_t) override { Refuse(); }
    // Bytes taken in so far.
    std::int64_t Position() const override;

    // Finishes the stream and writes its last bytes to the target; the deflate
    // state is ended also when this fails. Later writes are refused.
    void Release();

  private:
    void WriteOutput(std::size_t count);
    void End();
};

// Read-only adapter. Read answers the bytes delivered; 0 once nothing more
// comes: the source is exhausted (StreamEnded tells a cut-off stream) or
// the zlib stream has ended.
class UnpackReader : public ZlibAdapter {
  public:
    // Inflate with window bits 15 (zlib header required). ZlibFailure "Error"
    // when zlib refuses.
    explicit UnpackReader(Stream& source);
    // Releases when Release was not called.
    ~UnpackReader() override;

    // Inflates up to count bytes. ZlibFailure "Error" for a corrupt stream
    // (header, deflate data, Adler-32, or a preset dictionary requested).
    std::size_t Read(void* buffer, std::size_t count) override;
    // ZlibFailure "Invalid stream operation".
    std::size_t Write(const void*, std::size_t) override { Refuse(); }
    // Bytes delivered so far.
    std::int64_t Position() const override;

    // True once the zlib stream has ended with a matching Adler-32.
    bool StreamEnded() const { return ended_; }

    // Moves the source back by the packed bytes read but not consumed, so it
    // stands right after the zlib stream when that has ended, and ends the
    // inflate state.
    void Release();

  private:
    bool ended_ = false;
};

}  // namespace tallo
