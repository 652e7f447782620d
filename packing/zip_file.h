// Whole-file routines of the packed file format. A packed file is one zlib
// stream (header 78 DA, deflate data, Adler-32) of the whole content and
// nothing else. Every routine holds whole contents in memory: the source is
// read completely before anything is written.
#pragma once

#include <cstddef>
#include <string>

#include "packing/streams.h"
#include "packing/zip_streams.h"
#include "text/failure.h"

namespace tallo {

// The most a packed script may unpack to: 512 MiB. A packed file holds no
// length, and deflate reaches about 1000:1, so a 4 MB file can claim 4 GB.
// The limit follows from what a run holds: its script once (with its connect
// header) and, while it unpacks, the packed file, in the 2 GiB a 32-bit
// Windows process has in all, its program, libraries and Firebird client
// included, and a free stretch of addresses as long as the script among
// them. 512 MiB leaves that process room; a script that runs on one platform
// runs on every other.
inline constexpr std::size_t kMaxUnpackedScript = std::size_t{512} << 20;

// A packed file that unpacks to more than the limit asked of it: "The packed
// file "<full path>" expands beyond 512 MB" (without the name when there is
// none). It is refused as soon as the content passes the limit.
class ExpansionFailure : public Failure {
  public:
    ExpansionFailure(std::size_t limit, const std::string& name);
};

// Packs the file source into destination (level 9). The source is opened for
// reading and writing, shared with readers and writers; failing to open,
// size, read or close it is an IoFailure by code. The destination is replaced
// as SaveWholeFile does it, with no wider permissions than the source; on a
// failure it is left as it was, also when it is the source itself (equal
// names delete an earlier ".bak" file of the source's name). Answers true.
bool PackFile(const std::string& source, const std::string& destination);

// Packs the text into destination. An empty text answers false and touches
// no file; otherwise the file is replaced (no wider permissions than like,
// when given) and the answer is true.
bool PackTextToFile(const std::string& text, const std::string& destination, const std::string& like = {});
// The same for a text that comes in pieces (platform::PieceSource); a piece
// that cannot be had is an IoFailure by its code and touches no file.
bool PackPiecesToFile(const platform::PieceSource& pieces, const std::string& destination,
                      const std::string& like = {});

// Unpacks the packed file source into destination, replaced as by PackFile. A corrupt packed file, a cut-off
// or an empty one included, is a ZlibFailure "Error" and writes nothing. Answers true.
// The content is held whole before it is written, so it is bounded by what a
// memory stream holds (2 GB), not by the script limit: it feeds no run, and
// the packed protocol of a large run must still unpack. A content beyond the
// limit is an ExpansionFailure and writes nothing.
bool UnpackFile(const std::string& source, const std::string& destination);
bool UnpackFile(const std::string& source, const std::string& destination, std::size_t limit);

// The unpacked content of the packed file name, in a text with room for
// header_room bytes more; a content beyond limit (a packed script by
// default) is an ExpansionFailure naming the file.
std::string UnpackFileToText(const std::string& name, std::size_t limit = kMaxUnpackedScript,
                             std::size_t header_room = 0);

// The whole unpacked content of the packed bytes in source, read from
// position 0 with an UnpackReader in pieces of 16 to 256 KiB. A stream that
// has not ended when the bytes do, and bytes after its end, make the content
// corrupt (ZlibFailure "Error"); a content beyond limit is an
// ExpansionFailure.
void UnpackAll(MemoryStream& source, MemoryStream& content, std::size_t limit = kMaxContentSize);
// The same as a text; source is emptied once it has been unpacked.
std::string UnpackAllToText(MemoryStream& source, std::size_t limit = kMaxUnpackedScript);

// The packed form of the bytes, level 9.
void PackAll(const char* data, std::size_t size, MemoryStream& packed);

// The backup name used while a file is packed or unpacked onto itself.
std::string BackupNameFor(const std::string& name);

}  // namespace tallo
