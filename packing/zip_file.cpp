#include "packing/zip_file.h"

#include <memory>
#include <new>

#include "base/errors.h"
#include "base/platform.h"
#include "base/text_rules.h"

namespace tallo {

namespace {

// Unpacked bytes are asked for straight into the memory of the result, in
// pieces that start at 16 KiB and double up to 256 KiB: small contents stay
// small, and large ones are not slowed down by zlib copying every byte of a
// small piece once more into its window (about a fifth more time at 16 KiB).
constexpr std::size_t kFirstPiece = 16384;
constexpr std::size_t kLargestPiece = 262144;

// "512 MB", or "2 GB" for whole gibibytes, to the nearest mebibyte (the
// ceiling of a memory stream is one byte short of 2 GiB).
std::string SizeText(std::size_t bytes) {
    const std::size_t mib = (bytes + (std::size_t{1} << 19)) >> 20;
    return mib >= 1024 && mib % 1024 == 0 ? std::to_string(mib / 1024) + " GB" : std::to_string(mib) + " MB";
}

std::string ExpansionText(std::size_t limit, const std::string& name) {
    std::string text = "The packed file ";
    if (!name.empty()) {
        text += '"';
        text += platform::FileNameText(platform::FullPath(name));
        text += "\" ";
    }
    text += "expands beyond ";
    text += SizeText(limit);
    return text;
}

// Reads the whole packed content of source; reserve(count) answers where the next
// count bytes may go and commit(n) takes n of them. A content of more than
// limit bytes is refused (name, when not empty, names the packed file) as
// soon as one byte beyond it comes, before more memory is taken.
template <typename Reserve, typename Commit>
void ReadWholeContent(MemoryStream& source, std::size_t limit, const std::string& name, Reserve reserve,
                      Commit commit) {
    source.SetPosition(0);
    UnpackReader reader(source);
    std::size_t total = 0;
    for (std::size_t piece = kFirstPiece;; piece = piece < kLargestPiece ? piece * 2 : piece) {
        const std::size_t want = limit - total < piece ? limit - total : piece;
        if (want == 0) {
            char beyond = 0;
            if (reader.Read(&beyond, 1) != 0)
                throw ExpansionFailure(limit, name);
            break;
        }
        char* room = reserve(want);
        std::size_t got = reader.Read(room, want);
        if (got == 0)
            break;
        commit(got);
        total += got;
    }
    bool ended = reader.StreamEnded();
    reader.Release();
    // A packed file that ends before its stream does (an empty file too) is
    // damaged: its decodable prefix is not the content, and running or
    // saving it as such would pass a fragment off as the whole.
    if (!ended)
        throw ZlibFailure::WithDetail("the packed data ends before its stream does");
    // A packed file holds exactly one stream; anything after its Adler-32 is
    // not ours, and quietly dropping it could lose data.
    if (static_cast<std::size_t>(source.Position()) != source.Size())
        throw ZlibFailure::WithDetail("bytes follow the end of the packed stream");
}

// The whole content of source, the file name (when known) named in a refusal.
void UnpackNamed(MemoryStream& source, MemoryStream& content, std::size_t limit, const std::string& name) {
    ReadWholeContent(
        source, limit, name, [&](std::size_t n) { return content.ReserveTail(n); },
        [&](std::size_t n) { content.CommitTail(n); });
}

// Unpacked twice: once to learn the content's length, once into a text of
// exactly that length (and room for header_room bytes more), so a large
// script is held once, not once in a stream and again in its text.
std::string UnpackNamedToText(MemoryStream& source, std::size_t limit, const std::string& name,
                              std::size_t header_room) {
    std::size_t size = 0;
    {
        const std::unique_ptr<char[]> scratch(new char[kLargestPiece]);
        ReadWholeContent(
            source, limit, name, [&](std::size_t) { return scratch.get(); },
            [&](std::size_t n) { size += n; });
    }
    std::string text;
    try {
        text.reserve(size + header_room);
        text.resize(size);
    } catch (const std::bad_alloc&) {
        throw OutOfMemoryFailure();
    }
    std::size_t filled = 0;
    ReadWholeContent(
        source, size, name, [&](std::size_t) { return text.data() + filled; },
        [&](std::size_t n) { filled += n; });
    source.Clear();
    return text;
}

// Saves content in place of destination, with no wider permissions than the
// source. The new content is written beside the destination and renamed over
// it, so with equal names the source stays whole until the new content is
// complete; an earlier backup file of that name is still deleted.
void SaveBeside(const MemoryStream& content, const std::string& source, const std::string& destination) {
    if (source == destination) {
        std::string backup = BackupNameFor(source);
        if (platform::FileExists(backup))
            platform::DeleteFile(backup);
    }
    content.SaveToFile(destination, source);
}

// The whole source file of PackFile; every failure is an IoFailure by code.
std::unique_ptr<char[]> ReadSource(const std::string& name, std::size_t* size) {
    int error = 0;
    platform::File file = platform::File::Open(name, platform::Access::ReadWrite, platform::Share::ReadWrite,
                                               platform::Disposition::OpenExisting, &error);
    if (!file.IsOpen()) {
        if (error == platform::kNotRegularFile)
            throw OpenFileFailure::For(name, error);
        throw IoFailure(platform::NeutralErrorCode(error, name));
    }
    std::int64_t length = file.Size(&error);
    if (length < 0)
        throw IoFailure(platform::NeutralErrorCode(error, name));
    if (static_cast<std::uint64_t>(length) > kMaxContentSize)
        throw OutOfMemoryFailure();
    std::unique_ptr<char[]> buffer;
    if (length > 0) {
        buffer.reset(new (std::nothrow) char[static_cast<std::size_t>(length)]);
        if (!buffer)
            throw OutOfMemoryFailure();
        std::int64_t got = file.Read(buffer.get(), static_cast<std::size_t>(length), &error);
        if (got < 0)
            throw IoFailure(platform::NeutralErrorCode(error, name));
        if (got != length)
            throw IoFailure(100);
    }
    if (!file.Close(&error))
        throw IoFailure(platform::NeutralErrorCode(error, name));
    *size = static_cast<std::size_t>(length);
    return buffer;
}

}  // namespace

ExpansionFailure::ExpansionFailure(std::size_t limit, const std::string& name)
    : Failure(ExpansionText(limit, name)) {}

std::string BackupNameFor(const std::string& name) {
    return ChangeExtension(name, ".bak");
}

void PackAll(const char* data, std::size_t size, MemoryStream& packed) {
    PackWriter writer(PackLevel::Max, packed);
    writer.Write(data, size);
    writer.Release();
}

void UnpackAll(MemoryStream& source, MemoryStream& content, std::size_t limit) {
    UnpackNamed(source, content, limit, {});
}

std::string UnpackAllToText(MemoryStream& source, std::size_t limit) {
    return UnpackNamedToText(source, limit, {}, 0);
}

bool PackFile(const std::string& source, const std::string& destination) {
    std::size_t size = 0;
    std::unique_ptr<char[]> buffer = ReadSource(source, &size);
    MemoryStream packed;
    PackAll(buffer.get(), size, packed);
    SaveBeside(packed, source, destination);
    return true;
}

bool PackTextToFile(const std::string& text, const std::string& destination, const std::string& like) {
    if (text.empty())
        return false;
    MemoryStream packed;
    PackAll(text.data(), text.size(), packed);
    packed.SaveToFile(destination, like);
    return true;
}

bool PackPiecesToFile(const platform::PieceSource& pieces, const std::string& destination,
                      const std::string& like) {
    MemoryStream packed;
    std::size_t total = 0;
    {
        PackWriter writer(PackLevel::Max, packed);
        for (;;) {
            std::string_view piece;
            int error = 0;
            if (!pieces(&piece, &error))
                throw IoFailure(platform::NeutralErrorCode(error, {}));
            if (piece.empty())
                break;
            writer.Write(piece.data(), piece.size());
            total += piece.size();
        }
        writer.Release();
    }
    if (total == 0)
        return false;
    packed.SaveToFile(destination, like);
    return true;
}

bool UnpackFile(const std::string& source, const std::string& destination, std::size_t limit) {
    MemoryStream packed;
    packed.LoadFromFile(source);
    MemoryStream content;
    UnpackNamed(packed, content, limit, source);
    packed.Clear();
    SaveBeside(content, source, destination);
    return true;
}

bool UnpackFile(const std::string& source, const std::string& destination) {
    return UnpackFile(source, destination, kMaxContentSize);
}

std::string UnpackFileToText(const std::string& name, std::size_t limit, std::size_t header_room) {
    MemoryStream packed;
    packed.LoadFromFile(name);
    return UnpackNamedToText(packed, limit, name, header_room);
}

}  // namespace tallo
