// The check of a statement's bytes against the character set of the
// connection it runs on, made before anything runs. The statement is read
// through the lexer, so strings, q-strings, quoted identifiers and comments
// are where the splitter found them.
//
// A literal with a character set introducer (_WIN1251 '...', _WIN1251
// q'{...}', with blanks or comments between the two) holds text of the
// introducer's character set, whatever the connection's is, as Firebird reads
// it: its content must fit the one or the other, and its delimiters (a
// q-string's may be any byte) are not the connection's. Every other byte
// (words, identifiers, comments, the plain literals) is the connection's.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace tallo::engine {

// An introduced literal: where it lies, delimiters included, where its
// content lies, and the character set its introducer names (without the "_").
struct IntroducedText {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t content_begin = 0;
    std::size_t content_end = 0;
    std::string_view charset;

    bool operator==(const IntroducedText&) const = default;
};

// The introduced literals of a statement, in order.
std::vector<IntroducedText> IntroducedTexts(std::string_view statement);

// The offset of the first byte of the statement its character set cannot hold
// (see script_encoding::FirstByteOutside), or npos. For an introduced literal
// that the connection's set cannot hold, the first byte of its content that
// the introducer's set cannot hold, if any.
std::size_t FirstByteOutsideCharset(std::string_view statement, std::string_view charset);

}  // namespace tallo::engine
