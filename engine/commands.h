// Recognition of the client-side commands of a script. Keywords are read in
// any letter case and, where isql allows it, abbreviated (SET TERM, SET AUTO,
// OUT, IN). Everything that is not a client-side command is SQL for the
// session.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/failure.h"
#include "engine/session.h"
#include "text/lexer.h"

namespace tallo::engine {

// What a statement is, read once when the script is loaded: one node per
// client-side command, Sql for everything the session runs as written.
namespace command {

struct Sql {
    bool operator==(const Sql&) const = default;
};
struct SetNames {
    std::string charset;  // "" = none
    bool operator==(const SetNames&) const = default;
};
struct SetDialect {
    int dialect = 3;  // 1, 2 or 3
    bool operator==(const SetDialect&) const = default;
};
struct SetTerm {
    std::string terminator;
    bool operator==(const SetTerm&) const = default;
};

// The SET options switched ON, OFF or toggled.
enum class Option {
    Autoddl,
    Bail,
    Count,     // "Records affected" lines in the protocol
    Heading,   // column titles in readable tables
    List,      // rows as "name value" lines
    Plan,      // each statement's plan in the protocol
    PlanOnly,  // statements only prepared, plans shown
    Stats,     // the database's counters after each statement
};
struct SetSwitch {
    Option option = Option::Autoddl;
    std::optional<bool> on;  // ON / OFF; nullopt toggles
    bool operator==(const SetSwitch&) const = default;
};
struct SetRowCount {
    int rows = 0;  // a SELECT fetches at most this many, 0 = all
    bool operator==(const SetRowCount&) const = default;
};
struct SetWidth {
    std::string column;  // as the database names it
    int width = 0;       // 0 = the default
    bool operator==(const SetWidth&) const = default;
};
// isql screen options without meaning here.
struct SetIgnored {
    bool operator==(const SetIgnored&) const = default;
};
// SET TRANSACTION, CREATE DATABASE: the statement is passed on as written.
struct SetTransaction {
    bool operator==(const SetTransaction&) const = default;
};
struct Connect {
    std::string database;  // as written
    std::string user;
    std::string password;
    std::string role;  // a bare name in capitals
    int cache = 0;     // 0 = the server's default
    bool operator==(const Connect&) const = default;
};
struct CreateDatabase {
    bool operator==(const CreateDatabase&) const = default;
};
struct DropDatabase {
    bool operator==(const DropDatabase&) const = default;
};
struct Commit {
    bool retain = false;
    bool operator==(const Commit&) const = default;
};
struct Rollback {
    bool retain = false;
    bool operator==(const Rollback&) const = default;
};
struct Output {
    std::string file;
    std::optional<std::string> delimiter;
    bool operator==(const Output&) const = default;
};
struct OutputEnd {
    bool operator==(const OutputEnd&) const = default;
};
struct Input {
    std::string file;
    bool operator==(const Input&) const = default;
};
struct Exit {  // commit and stop
    bool operator==(const Exit&) const = default;
};
struct Quit {  // roll back and stop
    bool operator==(const Quit&) const = default;
};

// The kinds of object SHOW lists (show.h).
enum class ShowKind {
    Checks,
    Comments,
    Collations,
    Domains,
    Database,
    Exceptions,
    Filters,
    Functions,
    Generators,
    Grants,
    Indices,
    Mappings,
    Procedures,
    Packages,
    Roles,
    System,
    Tables,
    Triggers,
    Users,
    Views,
    Version,
    SqlDialect,
};
struct Show {
    ShowKind kind = ShowKind::Tables;
    std::optional<std::string> name;  // the object named, as stored
    bool operator==(const Show&) const = default;
};
// A SHOW that cannot be answered whatever the database holds (no kind, an
// unknown one, a name written as a string). As in isql it fails when it runs,
// in a transaction of its own like any SHOW; listing is what isql prints all
// the same (its list of the kinds for SHOW alone).
struct ShowError {
    std::string message;
    std::vector<std::string> listing;
    bool operator==(const ShowError&) const = default;
};

// A client-side command written wrongly: the statement fails when it runs.
struct Invalid {
    std::string message;
    bool operator==(const Invalid&) const = default;
};

}  // namespace command

using Command =
    std::variant<command::Sql, command::SetNames, command::SetDialect, command::SetTerm, command::SetSwitch,
                 command::SetRowCount, command::SetWidth, command::SetIgnored, command::SetTransaction,
                 command::Connect, command::CreateDatabase, command::DropDatabase, command::Commit,
                 command::Rollback, command::Output, command::OutputEnd, command::Input, command::Exit,
                 command::Quit, command::Show, command::ShowError, command::Invalid>;

// std::visit with one lambda per node kind.
template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
// Spelled out for compilers that do not deduce an aggregate's arguments.
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

// Which command a CommandError is about, where that matters: a wrong SET TERM
// or INPUT leaves the rest of the script unreadable.
enum class CommandKind { Sql, SetTerm, Input, Output, Show, Other };

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

// A bare name as the database stores it, as isql reads one: ASCII letters in
// capitals, every other byte as written.
std::string BareName(std::string_view text);

// Recognises one statement (terminator already removed). Throws CommandError
// for a command written wrongly.
Command ParseCommand(std::string_view statement);

// ParseCommand, a CommandError becoming an Invalid node; only a wrong SET
// TERM or INPUT is still thrown.
Command ReadCommand(std::string_view statement);

// The terminator rules of SET TERM: 1 to 31 characters, none of them a blank,
// a control character, a quote, '-', '*' or '/'. Throws CommandError.
void CheckTerminator(std::string_view terminator);

}  // namespace tallo::engine
