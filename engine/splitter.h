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
    explicit Splitter(std::string_view text);

    // The next statement ended by terminator, or nullopt when only blanks and
    // comments are left. Empty statements (";;") are skipped. Throws
    // ScriptDamage.
    std::optional<RawStatement> Next(std::string_view terminator);

  private:
    // Whether the statement that starts with first opens a PSQL body.
    bool OpensPsqlBody(const Lexeme& first) const;

    Lexer lexer_;
};

}  // namespace tallo::engine
