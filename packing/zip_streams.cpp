#include "packing/zip_streams.h"

#include <cstdlib>

#include "base/errors.h"

namespace tallo {

namespace {

// "Error", with zlib's message for the stream (its text for the result when
// the stream has none) as the detail.
ZlibFailure ZlibError(int rc, const z_stream& zs) {
    if (rc == Z_NEED_DICT)
        return ZlibFailure::WithDetail("a preset dictionary is asked for");
    return ZlibFailure::WithDetail(zs.msg != nullptr ? zs.msg : zError(rc));
}

// zlib's memory requests go to the ordinary allocator, as zero-filled blocks.
voidpf ZAlloc(voidpf, uInt items, uInt size) {
    return std::calloc(items, size);
}
void ZFree(voidpf, voidpf address) {
    std::free(address);
}

// zlib counts in 32-bit units; larger requests are taken in pieces.
constexpr std::size_t kMaxPiece = 0x40000000;

constexpr int kWindowBits = 15;
constexpr int kMemLevel = 8;

const char* const kInvalidOperation = "Invalid stream operation";

}  // namespace

int ZlibLevel(PackLevel level) {
    switch (level) {
        case PackLevel::None:
            return Z_NO_COMPRESSION;
        case PackLevel::Fastest:
            return Z_BEST_SPEED;
        case PackLevel::Default:
            return Z_DEFAULT_COMPRESSION;
        case PackLevel::Max:
            return Z_BEST_COMPRESSION;
    }
    return Z_BEST_COMPRESSION;
}

ZlibAdapter::ZlibAdapter(Stream& other)
    : other_(other),
      other_position_(other.Position()),
      buffer_(std::make_unique<unsigned char[]>(kZipBufferSize)) {
    zs_.zalloc = ZAlloc;
    zs_.zfree = ZFree;
}

void ZlibAdapter::SetPosition(std::int64_t position) {
    if (position != Position())
        Refuse();
}

void ZlibAdapter::Refuse() {
    throw ZlibFailure(kInvalidOperation);
}

void ZlibAdapter::ResumeOther() {
    if (other_.Position() != other_position_)
        other_.SetPosition(other_position_);
}

PackWriter::PackWriter(PackLevel level, Stream& target) : ZlibAdapter(target) {
    zs_.next_out = buffer_.get();
    zs_.avail_out = kZipBufferSize;
    if (int rc = deflateInit2(&zs_, ZlibLevel(level), Z_DEFLATED, kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY);
        rc < 0) {
        throw ZlibError(rc, zs_);
    }
    active_ = true;
}

PackWriter::~PackWriter() {
    End();
}

void PackWriter::End() {
    if (active_) {
        deflateEnd(&zs_);
        active_ = false;
    }
}

void PackWriter::WriteOutput(std::size_t count) {
    other_.WriteBuffer(buffer_.get(), count);
    zs_.next_out = buffer_.get();
    zs_.avail_out = kZipBufferSize;
    NoteOther();
}

std::size_t PackWriter::Write(const void* buffer, std::size_t count) {
    if (!active_)
        Refuse();
    ResumeOther();
    const auto* input = static_cast<const unsigned char*>(buffer);
    std::size_t left = count;
    while (left > 0) {
        std::size_t piece = left < kMaxPiece ? left : kMaxPiece;
        zs_.next_in = const_cast<Bytef*>(input);
        zs_.avail_in = static_cast<uInt>(piece);
        while (zs_.avail_in > 0) {
            if (int rc = deflate(&zs_, Z_NO_FLUSH); rc < 0)
                throw ZlibError(rc, zs_);
            if (zs_.avail_out == 0)
                WriteOutput(kZipBufferSize);
        }
        input += piece;
        left -= piece;
    }
    return count;
}

std::int64_t PackWriter::Position() const {
    return static_cast<std::int64_t>(zs_.total_in);
}

void PackWriter::Release() {
    if (!active_)
        return;
    struct EndGuard {
        PackWriter* writer;
        ~EndGuard() { writer->End(); }
    } guard{this};
    zs_.next_in = nullptr;
    zs_.avail_in = 0;
    ResumeOther();
    for (;;) {
        int rc = deflate(&zs_, Z_FINISH);
        if (rc < 0)
            throw ZlibError(rc, zs_);
        if (rc == Z_STREAM_END || zs_.avail_out > 0)
            break;
        WriteOutput(kZipBufferSize);
    }
    std::size_t waiting = kZipBufferSize - zs_.avail_out;
    if (waiting > 0)
        WriteOutput(waiting);
}

UnpackReader::UnpackReader(Stream& source) : ZlibAdapter(source) {
    zs_.next_in = buffer_.get();
    zs_.avail_in = 0;
    if (int rc = inflateInit2(&zs_, kWindowBits); rc < 0)
        throw ZlibError(rc, zs_);
    active_ = true;
}

UnpackReader::~UnpackReader() {
    if (active_)
        inflateEnd(&zs_);
}

std::size_t UnpackReader::Read(void* buffer, std::size_t count) {
    if (!active_)
        Refuse();
    if (count == 0 || ended_)
        return 0;
    std::size_t piece = count < kMaxPiece ? count : kMaxPiece;
    zs_.next_out = static_cast<Bytef*>(buffer);
    zs_.avail_out = static_cast<uInt>(piece);
    ResumeOther();
    while (zs_.avail_out > 0) {
        if (zs_.avail_in == 0) {
            std::size_t got = other_.Read(buffer_.get(), kZipBufferSize);
            if (got == 0)
                break;  // the source ends before the stream does
            zs_.next_in = buffer_.get();
            zs_.avail_in = static_cast<uInt>(got);
            NoteOther();
        }
        int rc = inflate(&zs_, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            ended_ = true;
            break;
        }
        // A request for a preset dictionary is a corrupt packed file too;
        // inflate would answer it again on every call.
        if (rc < 0 || rc == Z_NEED_DICT)
            throw ZlibError(rc, zs_);
    }
    return piece - zs_.avail_out;
}

std::int64_t UnpackReader::Position() const {
    return static_cast<std::int64_t>(zs_.total_out);
}

void UnpackReader::Release() {
    if (!active_)
        return;
    active_ = false;
    std::int64_t back = zs_.avail_in;
    zs_.avail_in = 0;
    inflateEnd(&zs_);
    other_.SetPosition(other_.Position() - back);
}

}  // namespace tallo
