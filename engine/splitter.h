// The statement splitter: cuts a script text into statements at the current
// terminator, the way isql reads a script, plus PSQL bodies without SET TERM.
//
// A terminator ends a statement only outside line comments (--), block
// comments (/* */), '...' strings, "..." identifiers and q-strings (q'{...}',
// q'(...)', q'[...]', q'<...>', q'x...x'). CR LF, LF and a lone CR each end a
// line. Blanks and comments before a statement are dropped, comments inside
// it are kept, the terminator is removed and trailing blanks are trimmed.
//
// While the terminator is ";", a statement that opens a PSQL body (CREATE,
// ALTER, CREATE OR ALTER or RECREATE of PROCEDURE, TRIGGER, FUNCTION, PACKAGE
// [BODY], and EXECUTE BLOCK) runs to the ";" after the END that closes its
// outermost BEGIN. Such a statement without AS (ALTER TRIGGER t INACTIVE, an
// external routine) ends at its first ";" like any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/failure.h"
#include "text/lexer.h"

namespace tallo::engine {

// A script that cannot be split cleanly: an unterminated string, identifier,
// q-string or block comment, a PSQL body without its END, or text after the
// last terminator. line is where the damaged construct starts (1-based).
class ScriptDamage : public EngineFailure {
  public:
    ScriptDamage(const std::string& message, std::size_t line) : EngineFailure(message), line(line) {}
    std::size_t line;
};

struct RawStatement {
    std::string_view text;  // a view into the splitter's text
    std::size_t line = 0;   // line of the statement's first character
};

// The text ends at its first NUL byte.
std::string_view CutAtNul(std::string_view text);

class Splitter {
  public:
    // Reads text from pos, which is on the given line.
    explicit Splitter(std::string_view text, std::size_t pos = 0, std::size_t line = 1);

    // The next statement ended by terminator, or nullopt when only blanks and
    // comments are left. Empty statements (";;") are skipped. Throws
    // ScriptDamage.
    std::optional<RawStatement> Next(std::string_view terminator);

    // Where the next statement is looked for.
    std::size_t Position() const { return lexer_.Position(); }
    std::size_t Line() const { return lexer_.Line(); }
    void Seek(std::size_t pos, std::size_t line) { lexer_.Seek(pos, line); }

  private:
    // Whether the statement that starts with first opens a PSQL body.
    bool OpensPsqlBody(const Lexeme& first) const;

    Lexer lexer_;
};

// A script's text as the pre-flight and the run read it: whole when it is at
// hand, otherwise in pieces, so that a run need not hold a copy of a text
// that lives in another process.
class ScriptSource {
  public:
    virtual ~ScriptSource() = default;
    // The text's length; it ends before its first NUL byte.
    virtual std::uint64_t Size() const = 0;
    // The whole text, when it can be read in place (empty otherwise).
    virtual std::optional<std::string_view> Whole() const { return std::nullopt; }
    // Appends bytes [offset, offset + size) of the text to into.
    virtual void Read(std::uint64_t offset, std::size_t size, std::string& into) = 0;
};

// A text in memory, read in place.
class TextSource final : public ScriptSource {
  public:
    explicit TextSource(std::string_view text) : text_(CutAtNul(text)) {}
    std::uint64_t Size() const override { return text_.size(); }
    std::optional<std::string_view> Whole() const override { return text_; }
    void Read(std::uint64_t offset, std::size_t size, std::string& into) override {
        into.append(text_.substr(static_cast<std::size_t>(offset), size));
    }

  private:
    std::string_view text_;
};

// The splitter over a ScriptSource. A source without its whole text is read
// in windows of about kWindowBytes, or as much as the longest statement
// needs; a statement is taken from a window only when the lexer's reading
// could not have reached past the window's end, so the statements are those
// the whole text gives. A statement's text lives until the next call (for
// a whole text: as long as the text).
class WindowSplitter {
  public:
    static constexpr std::size_t kWindowBytes = std::size_t(1) << 20;

    explicit WindowSplitter(ScriptSource& source);

    std::optional<RawStatement> Next(std::string_view terminator);

    // Line and column of a byte of the statement given last (columns in
    // characters: UTF-8 sequences count once when utf8 is true).
    void PositionOf(const char* byte, bool utf8, std::size_t& line, std::size_t& column);

  private:
    // Drops the window's bytes before pos and reads more after its end.
    void Extend(std::size_t pos, std::size_t line);

    ScriptSource& source_;
    const std::uint64_t size_;
    std::string buffer_;       // the window, when the text is not whole
    std::string_view window_;  // bytes [base_, base_ + window_.size()) of the text
    std::uint64_t base_ = 0;
    Splitter splitter_;
};

}  // namespace tallo::engine
