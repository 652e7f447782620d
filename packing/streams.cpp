#include "packing/streams.h"

#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/platform.h"

namespace tallo {

void Stream::ReadBuffer(void* buffer, std::size_t count) {
    if (count != 0 && Read(buffer, count) != count)
        throw ReadFailure();
}

void Stream::WriteBuffer(const void* buffer, std::size_t count) {
    if (count != 0 && Write(buffer, count) != count)
        throw WriteFailure();
}

namespace {

// Large streams live in their own memory mapping, which grows without
// copying (mremap) and without leaving the old block behind in the heap; a
// stream that grows piece by piece thus peaks at its own size.
constexpr std::size_t kMappedFrom = 1 << 20;

void ReleaseBlock(char* data, std::size_t capacity, bool mapped) {
    if (mapped) {
        platform::UnmapMemory(data, capacity);
        return;
    }
    std::free(data);
}

}  // namespace

MemoryStream::~MemoryStream() {
    ReleaseBlock(data_, capacity_, mapped_);
}

void MemoryStream::Reserve(std::size_t capacity) {
    if (capacity <= capacity_)
        return;
    if (capacity > kMaxContentSize)
        throw StreamMemoryFailure();
    // Grow by a quarter at least, in whole 64 KiB steps, so appending small
    // pieces stays linear.
    std::size_t wanted = capacity_ + capacity_ / 4;
    if (wanted < capacity)
        wanted = capacity;
    wanted = (wanted + 0xFFFF) & ~static_cast<std::size_t>(0xFFFF);
    if (wanted > kMaxContentSize)
        wanted = kMaxContentSize;
    if (wanted >= kMappedFrom) {
        void* grown;
        if (mapped_) {
            grown = platform::GrowMappedMemory(data_, capacity_, wanted);
        } else {
            grown = platform::MapMemory(wanted);
            if (grown != nullptr) {
                if (size_ != 0) {
                    platform::MakeResident(grown, size_);
                    std::memcpy(grown, data_, size_);
                }
                std::free(data_);
            }
        }
        if (grown == nullptr)
            throw StreamMemoryFailure();
        data_ = static_cast<char*>(grown);
        capacity_ = wanted;
        mapped_ = true;
        return;
    }
    void* grown = std::realloc(data_, wanted);
    if (grown == nullptr)
        throw StreamMemoryFailure();
    data_ = static_cast<char*>(grown);
    capacity_ = wanted;
}

std::size_t MemoryStream::Read(void* buffer, std::size_t count) {
    if (position_ >= size_)
        return 0;
    std::size_t n = size_ - position_;
    if (n > count)
        n = count;
    std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    return n;
}

std::size_t MemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0)
        return 0;
    if (count > kMaxContentSize || position_ > kMaxContentSize - count)
        throw StreamMemoryFailure();
    std::size_t end = position_ + count;
    if (end > size_) {
        Reserve(end);
        if (position_ > size_)
            std::memset(data_ + size_, 0, position_ - size_);
        size_ = end;
    }
    std::memcpy(data_ + position_, buffer, count);
    position_ = end;
    return count;
}

void MemoryStream::SetPosition(std::int64_t position) {
    if (position < 0)
        position = 0;
    position_ = static_cast<std::size_t>(position);
}

void MemoryStream::SetSize(std::size_t size) {
    if (size > size_) {
        Reserve(size);
        std::memset(data_ + size_, 0, size - size_);
    }
    size_ = size;
}

void MemoryStream::Clear() {
    ReleaseBlock(data_, capacity_, mapped_);
    mapped_ = false;
    data_ = nullptr;
    size_ = capacity_ = position_ = 0;
}

char* MemoryStream::ReserveTail(std::size_t count) {
    if (count > kMaxContentSize - size_)
        throw StreamMemoryFailure();
    Reserve(size_ + count);
    if (mapped_)
        platform::MakeResident(data_ + size_, count);
    return data_ + size_;
}

void MemoryStream::CommitTail(std::size_t count) {
    size_ += count;
    position_ = size_;
}

platform::File OpenForReading(const std::string& name, platform::Share share, std::int64_t* size) {
    int error = 0;
    platform::File file = platform::File::Open(name, platform::Access::Read, share,
                                               platform::Disposition::OpenExisting, &error);
    if (!file.IsOpen())
        throw OpenFileFailure::For(name, error);
    *size = file.Size(&error);
    if (*size < 0)
        throw ReadFailure();
    return file;
}

void MemoryStream::LoadFromFile(const std::string& name) {
    std::int64_t size = 0;
    platform::File file = OpenForReading(name, platform::Share::Read, &size);
    int error = 0;
    if (static_cast<std::uint64_t>(size) > kMaxContentSize)
        throw StreamMemoryFailure();
    Clear();
    Reserve(static_cast<std::size_t>(size));
    if (mapped_)
        platform::MakeResident(data_, static_cast<std::size_t>(size));
    std::int64_t got = size == 0 ? 0 : file.Read(data_, static_cast<std::size_t>(size), &error);
    if (got != size)
        throw ReadFailure();
    size_ = static_cast<std::size_t>(size);
    position_ = 0;
}

void SaveWholeFile(const std::string& name, const char* data, std::size_t size, const std::string& like) {
    bool given = false;
    SaveWholeFile(
        name,
        [&](std::string_view* piece, int*) {
            *piece = given ? std::string_view() : std::string_view(data, size);
            given = true;
            return true;
        },
        like);
}

void SaveWholeFile(const std::string& name, const platform::PieceSource& pieces, const std::string& like) {
    int error = 0;
    platform::ReplaceStage stage = platform::ReplaceStage::Create;
    if (platform::ReplaceFileWith(name, pieces, like, &error, &stage))
        return;
    if (stage == platform::ReplaceStage::Create)
        throw CreateFileFailure::For(name, error);
    throw WriteFailure::For(name, error);
}

void MemoryStream::SaveToFile(const std::string& name, const std::string& like) const {
    SaveWholeFile(name, data_, size_, like);
}

}  // namespace tallo
