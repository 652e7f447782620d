// Byte streams used by the packed-file routines: the common stream interface
// and the growable in-memory stream that holds whole file contents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/platform.h"

namespace tallo {

// A byte stream with a position. Read and Write answer how many bytes they
// moved; ReadBuffer and WriteBuffer demand all of them.
class Stream {
  public:
    virtual ~Stream() = default;
    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    virtual std::int64_t Position() const = 0;
    virtual void SetPosition(std::int64_t position) = 0;

    // ReadFailure ("Stream read error") when fewer than count bytes come.
    void ReadBuffer(void* buffer, std::size_t count);
    // WriteFailure ("Stream write error") when fewer than count bytes go.
    void WriteBuffer(const void* buffer, std::size_t count);
};

// Contents are 32-bit counts: a stream or text never reaches 2 GiB.
inline constexpr std::size_t kMaxContentSize = 0x7FFFFFFF;

// Opens an existing file for reading with the given sharing and takes its
// size; the open-file failure names the file, a size that cannot be taken is
// the read failure.
platform::File OpenForReading(const std::string& name, platform::Share share, std::int64_t* size);

// Puts the bytes in place of the file name through platform::ReplaceFile: on
// any failure the file is left as it was. CreateFileFailure when no new file
// can be made beside it (or another process holds it without sharing),
// WriteFailure naming the file and the system's reason when the bytes cannot
// be written, flushed or put in place. The new file has no wider permissions
// than the file like, when given.
void SaveWholeFile(const std::string& name, const char* data, std::size_t size, const std::string& like);
// The same for a content that comes in pieces (platform::ReplaceFileWith).
void SaveWholeFile(const std::string& name, const platform::PieceSource& pieces, const std::string& like);

// A growable in-memory byte stream. Writing at the position overwrites and
// grows the stream; growing beyond memory or beyond kMaxContentSize raises
// StreamMemoryFailure ("Out of memory while expanding memory stream").
class MemoryStream : public Stream {
  public:
    MemoryStream() = default;
    ~MemoryStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Position() const override { return static_cast<std::int64_t>(position_); }
    // Any position from 0 up; a position beyond the end is allowed and a
    // later write fills the gap with zero bytes.
    void SetPosition(std::int64_t position) override;

    std::size_t Size() const { return size_; }
    const char* Data() const { return data_; }
    // Makes the stream exactly size bytes long (new bytes are zero); the
    // position is kept.
    void SetSize(std::size_t size);
    // Empties the stream and gives its memory back.
    void Clear();

    // Room for count more bytes at the end, to be filled by the caller and
    // then taken into the stream with CommitTail; saves a copy when a
    // producer can write into the stream's own memory.
    char* ReserveTail(std::size_t count);
    // Appends count bytes of the room given by ReserveTail and moves the
    // position to the new end.
    void CommitTail(std::size_t count);

    // Replaces the content with the whole file: opened for reading, shared
    // only with other readers. OpenFileFailure when it cannot be opened,
    // ReadFailure when fewer bytes than its size can be read. The position
    // is 0 afterwards.
    void LoadFromFile(const std::string& name);
    // Replaces the file with the whole content (SaveWholeFile).
    void SaveToFile(const std::string& name, const std::string& like = {}) const;

  private:
    void Reserve(std::size_t capacity);

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t position_ = 0;
    bool mapped_ = false;
};

}  // namespace tallo
