// The one reader of SQL text. Everything that looks at a script or a
// statement (the engine's splitter, statement classification, CREATE
// DATABASE completion, password masking, the client commands, the literal
// shape reader and the character-set check; the script-encoding reader's look
// at a script's leading commands) reads it through this lexer, so all of them
// agree on where strings, identifiers, comments and terminators begin and end.
//
// Tokens: bare words, numbers, '...' strings, q-strings (q'{...}', q'(...)',
// q'[...]', q'<...>', q'x...x'), x'...' hex strings, character set
// introducers (_win1251 before '...' or x'...'), "..." quoted identifiers
// (doubled quotes stay inside), -- and /* */ comments, the current
// terminator, and every other byte on its own. Each token knows its position
// and its 1-based line; CR LF, LF and a lone CR each end a line. An
// unterminated string, identifier, q-string or block comment runs to the end
// of the text and is marked damaged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tallo {

// True for the bytes that may continue a bare word (letters, digits, _ and $,
// and every byte from 128 up, which covers Windows-1251 letters).
bool IsWordByte(unsigned char c);

// Space, tab, CR, LF, vertical tab, form feed.
bool IsBlankByte(unsigned char c);

// ASCII letters compared without case; upper is given in capitals.
bool EqualsWord(std::string_view word, std::string_view upper);
// word is upper's first min_length or more characters (SET TERM, OUT, IN).
bool AbbreviatesWord(std::string_view word, std::string_view upper, std::size_t min_length);

// The longest terminator is 31 characters.
constexpr std::size_t kMaxTerminatorLength = 31;

enum class TokenKind : std::uint8_t {
    End,         // no text left
    Word,        // a letter, $, a lone _ or a byte from 128, then word bytes
    Number,      // a digit (or "." and a digit), then word bytes, with at most one "." not before a letter
    Introducer,  // _ and word bytes: a character set name before a string
    String,      // '...'
    QString,     // q'{...}' and the other delimiters
    HexString,   // x'...'
    Quoted,      // "..."
    Comment,     // -- up to the line end (not included), or /* ... */
    Terminator,  // the current terminator
    Other,       // any other single byte
};

struct Lexeme {
    TokenKind kind = TokenKind::End;
    bool damaged = false;  // unterminated: it runs to the end of the text
    std::size_t begin = 0;
    std::size_t end = 0;
    // The part between the delimiters of a String, QString, HexString or
    // Quoted (doubled quotes not undone); begin..end for the other kinds.
    std::size_t inner_begin = 0;
    std::size_t inner_end = 0;
    std::size_t line = 1;

    bool IsLiteral() const {
        return kind == TokenKind::String || kind == TokenKind::QString || kind == TokenKind::HexString;
    }
    // Made of word bytes only: Word, Number or Introducer.
    bool IsBare() const {
        return kind == TokenKind::Word || kind == TokenKind::Number || kind == TokenKind::Introducer;
    }
};

class Lexer {
  public:
    // Reads text from pos, which is on the given line. No terminator is
    // recognised while the terminator is empty.
    explicit Lexer(std::string_view text, std::string_view terminator = {}, std::size_t pos = 0,
                   std::size_t line = 1)
        : text_(text), terminator_(terminator), pos_(pos), line_(line) {}

    void SetTerminator(std::string_view terminator) { terminator_ = terminator; }

    // The next token after blanks (kind End at the end of the text).
    Lexeme Next();
    // The next token that is no comment.
    Lexeme NextCode();
    // NextCode without moving on.
    Lexeme PeekCode() const;
    // The text of the next token past comments when it is bare (Word, Number,
    // Introducer); otherwise an empty view, and nothing is read.
    std::string_view NextWord();

    // Only what can hide or end a statement: strings, q-strings, hex strings,
    // quoted identifiers, comments and terminators. Words, numbers and other
    // bytes are passed over in bulk, and a terminator is found even inside
    // a word.
    Lexeme NextDelimited();

    // The end of the run of bytes from pos that holds no blank and no quote:
    // a client command's bare operand (a terminator, a file name) is one.
    std::size_t RunEnd(std::size_t pos) const;

    // Continues at pos, which is on the given line (a token's begin and line).
    void Seek(std::size_t pos, std::size_t line) {
        pos_ = pos;
        line_ = line;
    }
    std::size_t Position() const { return pos_; }
    std::size_t Line() const { return line_; }
    std::string_view Text() const { return text_; }
    std::string_view TextOf(const Lexeme& t) const { return text_.substr(t.begin, t.end - t.begin); }
    std::string_view InnerOf(const Lexeme& t) const {
        return text_.substr(t.inner_begin, t.inner_end - t.inner_begin);
    }

  private:
    bool TerminatorAt(std::size_t pos) const;
    bool QStringAt(std::size_t pos) const;
    // Each reads the construct that starts at t.begin into t.
    void ReadQuoted(Lexeme& t, std::size_t open) const;
    void ReadQString(Lexeme& t) const;
    void ReadComment(Lexeme& t) const;
    void ReadNumber(Lexeme& t) const;
    // A string, quoted identifier, comment or q-string at t.begin, if one
    // starts there.
    bool ReadDelimited(Lexeme& t) const;
    // Moves past t, counting the line ends inside it.
    Lexeme Finish(Lexeme t);

    std::string_view text_;
    std::string_view terminator_;
    std::size_t pos_ = 0;
    std::size_t line_ = 1;  // the line at pos_
};

// Appends a string's or identifier's inner text with its doubled quotes undone.
void AppendUndoubled(std::string& out, std::string_view inner, char quote);

// Whether upper (in capitals) stands in text as a word, outside strings and
// comments.
bool HasWord(std::string_view text, std::string_view upper);

// Whether upper (in capitals) stands in text as a word, outside comments, or
// so in the text one of its strings holds (a statement for EXECUTE
// STATEMENT), at any depth.
bool NamesWord(std::string_view text, std::string_view upper);

}  // namespace tallo
