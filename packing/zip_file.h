// Whole-file routines of the packed file format. A packed file is one zlib
// stream (header 78 DA, deflate data, Adler-32) of the whole content and
// nothing else. Every routine holds whole contents in memory: the source is
// read completely before anything is written.
#pragma once

#include <string>

#include "packing/streams.h"
#include "packing/zip_streams.h"

namespace tallo {

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

// Unpacks the packed file source into destination, replaced as by PackFile. A corrupt packed file, a cut-off
// or an empty one included, is a ZlibFailure "Error" and writes nothing. Answers true.
bool UnpackFile(const std::string& source, const std::string& destination);

// The unpacked content of the packed file name.
std::string UnpackFileToText(const std::string& name);

// The whole unpacked content of the packed bytes in source, read from
// position 0 with an UnpackReader in pieces of 16 to 256 KiB. A stream that
// has not ended when the bytes do, and bytes after its end, make the content
// corrupt (ZlibFailure "Error").
void UnpackAll(MemoryStream& source, MemoryStream& content);
// The same as a text; source is emptied once it has been unpacked.
std::string UnpackAllToText(MemoryStream& source);

// The packed form of the bytes, level 9.
void PackAll(const char* data, std::size_t size, MemoryStream& packed);

// The backup name used while a file is packed or unpacked onto itself.
std::string BackupNameFor(const std::string& name);

}  // namespace tallo
