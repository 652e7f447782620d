// Small readers over one statement's text: words for recognising statement
// kinds, and tokens (bare runs, '...' strings, "..." identifiers) for the
// operands of client-side commands.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/lexer.h"

namespace tallo::engine {

// Whether upper stands in text as a whole word (ASCII letters without case),
// wherever it is: a quick test before a closer look.
bool MentionsWord(std::string_view text, std::string_view upper);

// Skips blanks, -- comments and /* */ comments from pos; an unterminated
// block comment runs to the end.
std::size_t SkipBlanksAndCommentsAt(std::string_view text, std::size_t pos);

// Reads the bare words (letters, digits, _, $, bytes from 128) of a text,
// skipping blanks and comments; an empty view when the next thing is not a
// word.
class WordReader {
  public:
    WordReader(std::string_view text, std::size_t pos) : text_(text), pos_(pos) {}
    std::string_view Next();

  private:
    std::string_view text_;
    std::size_t pos_;
};

struct Token {
    enum class Kind { End, Bare, String, Quoted };
    Kind kind = Kind::End;
    std::string_view raw;  // as written, quotes included
    std::string value;     // quotes removed and doubled quotes undone
};

// Tokens of a client-side command: a bare run ends at a blank or a quote.
class TokenReader {
  public:
    explicit TokenReader(std::string_view text, std::size_t pos = 0) : text_(text), pos_(pos) {}
    Token Next();
    bool AtEnd();
    std::size_t Position() const { return pos_; }

  private:
    std::string_view text_;
    std::size_t pos_;
};

}  // namespace tallo::engine
