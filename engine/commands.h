// Recognition of the client-side commands of a script. Keywords are read in
// any letter case and, where isql allows it, abbreviated (SET TERM, SET AUTO,
// OUT, IN). Everything that is not a client-side command is SQL for the
// session.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/failure.h"
#include "engine/session.h"
#include "text/lexer.h"

namespace tallo::engine {

enum class CommandKind {
    Sql,             // everything else: handed to the session
    SetNames,        // arg = character set ("" = none)
    SetDialect,      // number = 1, 2 or 3
    SetTerm,         // arg = the new terminator
    SetAutoddl,      // toggle or on
    SetBail,         // toggle or on
    SetCount,        // toggle or on: "Records affected" lines in the protocol
    SetHeading,      // toggle or on: column titles in readable tables
    SetList,         // toggle or on: rows as "name value" lines
    SetPlan,         // toggle or on: each statement's plan in the protocol
    SetPlanOnly,     // toggle or on: statements only prepared, plans shown
    SetRowCount,     // number = rows a SELECT fetches at most, 0 = all
    SetStats,        // toggle or on: the database's counters after each statement
    SetWidth,        // arg = column (as the database names it), number = width, 0 = the default
    SetIgnored,      // isql screen options without meaning here
    SetTransaction,  // the statement as written
    Connect,         // connect = database, user, password, role, cache
    CreateDatabase,  // the statement as written
    DropDatabase,
    Commit,    // retain
    Rollback,  // retain
    Output,    // arg = file, delimiter when given
    OutputEnd,
    Input,  // arg = file
    Exit,   // commit and stop
    Quit,   // roll back and stop
    Show,   // arg = the statement as written: a metadata listing (show.h)
};

struct Command {
    CommandKind kind = CommandKind::Sql;
    std::string arg;
    std::optional<std::string> delimiter;
    std::optional<bool> on;  // ON / OFF; nullopt toggles
    bool retain = false;
    int number = 0;
    ConnectParams connect;  // database, user, password, role, cache only
};

// A client-side command written wrongly. kind tells which command it was.
class CommandError : public EngineFailure {
  public:
    CommandError(CommandKind kind, const std::string& message) : EngineFailure(message), kind(kind) {}
    CommandKind kind;
};

// An operand of a client-side command, read through the lexer: a '...'
// string, a "..." identifier, or a bare run, which ends at a blank or a quote
// (a file name, #9 or a terminator reads as one).
struct Token {
    enum class Kind { End, Bare, String, Quoted };
    Kind kind = Kind::End;
    std::string_view raw;  // as written, quotes included
    std::string value;     // quotes removed and doubled quotes undone
};

class TokenReader {
  public:
    explicit TokenReader(std::string_view text) : lexer_(text) {}
    Token Next();
    bool AtEnd() const { return lexer_.PeekCode().kind == TokenKind::End; }

  private:
    Lexer lexer_;
};

// Recognises one statement (terminator already removed). Throws CommandError.
Command ParseCommand(std::string_view statement);

// The terminator rules of SET TERM: 1 to 31 characters, none of them a blank,
// a control character, a quote, '-', '*' or '/'. Throws CommandError.
void CheckTerminator(std::string_view terminator);

}  // namespace tallo::engine
