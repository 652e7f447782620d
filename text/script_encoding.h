// The character encoding of script files. Scripts are Windows-1251 text, as
// the connect header's SET NAMES WIN1251 says; a script saved by an editor
// as UTF-8 or UTF-16 is recognised and converted, so the database stores
// what its author wrote, or refused with the position of a character the
// connection's character set cannot hold.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text/failure.h"

namespace tallo::script_encoding {

enum class Encoding { Windows1251, Utf8, Utf16Le, Utf16Be };

// What a file's bytes are: a UTF-16 byte-order mark (FF FE, FE FF) means
// UTF-16; a UTF-8 mark, or valid UTF-8 holding at least one multi-byte
// sequence, means UTF-8; anything else is Windows-1251. One pass.
Encoding Detect(std::string_view bytes);

// "UTF-8", "UTF-16LE", "UTF-16BE" or "Windows-1251".
const char* NameOf(Encoding encoding);

// A text that cannot be read or converted; the message names the file, the
// line and column (counted in characters, from 1) and the character.
class EncodingFailure : public Failure {
  public:
    EncodingFailure(std::string message, std::size_t line, std::size_t column)
        : Failure(std::move(message)), line(line), column(column) {}
    std::size_t line;
    std::size_t column;
};

// The UTF-8 text of a UTF-8 or UTF-16 file, its byte-order mark removed.
// A UTF-16 text that ends inside a character or holds an unpaired surrogate
// throws EncodingFailure; file_name is only used in that message.
std::string Utf8Text(std::string_view bytes, Encoding encoding, const std::string& file_name);

// The Windows-1251 form of a UTF-8 text. A character Windows-1251 cannot
// hold throws EncodingFailure ("<file>: line L, column C: the character
// U+XXXX has no Windows-1251 form").
std::string ToWindows1251(std::string_view utf8, const std::string& file_name);

// Whether a script chooses its own character set: a SET NAMES among the
// client-side SET commands before its first other statement (blanks,
// comments and SET TERM are read over).
bool SetsOwnCharacterSet(std::string_view script);

// Turns a script file's bytes, in place, into the text a connection in the
// given character set reads. Windows-1251 text stays as it is. UTF-8 and
// UTF-16 text is converted to Windows-1251 for a WIN1251 connection (any
// letter case), unless the script sets its own character set; for every
// other connection (or none yet) and for a script that sets its own, it
// becomes UTF-8 without its byte-order mark. Answers how the text was read
// when it changed ("read as UTF-16LE, converted to UTF-8"), "" when it did
// not or only lost its UTF-8 mark. Throws EncodingFailure (file_name is only
// used in its message).
std::string ToConnectionText(std::string& text, std::string_view charset, const std::string& file_name);

// The offset of the first byte of text that the character set cannot hold,
// or npos when every byte fits: UTF8 (any spelling isql takes: UTF8, UTF-8;
// UNICODE_FSS counts as UTF-8 too) needs valid UTF-8, WIN1251 every byte
// defined (0x98 is not), NONE, OCTETS and anything else take every byte.
// The bytes are read as they come: which of them a character set governs is
// the caller's to say.
std::size_t FirstByteOutside(std::string_view text, std::string_view charset);

// Line and column (from 1, columns in characters of the text's own
// encoding: UTF-8 sequences count once when utf8 is true) of a byte offset.
void PositionOf(std::string_view text, std::size_t offset, bool utf8, std::size_t& line, std::size_t& column);

// The same for a text read in pieces: each piece is fed in order, and line
// and column are those of the byte after the last one fed.
class Position {
  public:
    explicit Position(bool utf8) : utf8_(utf8) {}
    void Feed(std::string_view piece);
    std::size_t line = 1;
    std::size_t column = 1;

  private:
    bool utf8_;
    bool after_cr_ = false;  // a CR LF ends one line
};

}  // namespace tallo::script_encoding
