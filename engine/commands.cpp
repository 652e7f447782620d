#include "engine/commands.h"

#include <algorithm>
#include <cstdlib>

#include "engine/show.h"
#include "text/letter_case.h"

namespace tallo::engine {

namespace {

// ON, OFF or nothing (toggle); anything else makes the command invalid.
std::optional<bool> ReadSwitch(TokenReader& tokens, const char* name) {
    const Token t = tokens.Next();
    std::optional<bool> on;
    if (t.kind == Token::Kind::End)
        return on;
    if (t.kind == Token::Kind::Bare && EqualsWord(t.raw, "ON")) {
        on = true;
    } else if (t.kind == Token::Kind::Bare && EqualsWord(t.raw, "OFF")) {
        on = false;
    } else {
        throw CommandError(CommandKind::Other, std::string("SET ") + name + " expects ON or OFF");
    }
    if (!tokens.AtEnd())
        throw CommandError(CommandKind::Other, std::string("SET ") + name + " expects ON or OFF");
    return on;
}

// The SET options that are switched ON, OFF or toggled, each with the
// shortest abbreviation isql takes.
struct SwitchOption {
    const char* name;
    std::size_t min_length;
    command::Option option;
};

constexpr SwitchOption kSwitchOptions[] = {
    {"AUTODDL", 4, command::Option::Autoddl},   {"BAIL", 4, command::Option::Bail},
    {"COUNT", 5, command::Option::Count},       {"HEADING", 7, command::Option::Heading},
    {"LIST", 4, command::Option::List},         {"PLAN", 4, command::Option::Plan},
    {"PLANONLY", 8, command::Option::PlanOnly}, {"STATS", 4, command::Option::Stats},
};

const SwitchOption* SwitchOptionNamed(std::string_view word) {
    for (const SwitchOption& option : kSwitchOptions) {
        if (AbbreviatesWord(word, option.name, option.min_length))
            return &option;
    }
    return nullptr;
}

bool IsOperand(const Token& t) {
    return t.kind != Token::Kind::End;
}

// A bare role or column name is stored in capitals, a quoted one exactly as
// written.
std::string RoleName(const Token& t) {
    return t.kind == Token::Kind::Bare ? BareName(t.value) : t.value;
}

Command ParseConnect(TokenReader& tokens) {
    constexpr CommandKind kind = CommandKind::Other;
    command::Connect cmd;
    const Token db = tokens.Next();
    if (!IsOperand(db))
        throw CommandError(kind, "CONNECT needs a database name");
    cmd.database = db.value;
    for (Token key = tokens.Next(); key.kind != Token::Kind::End; key = tokens.Next()) {
        const Token value = tokens.Next();
        if (key.kind != Token::Kind::Bare || !IsOperand(value))
            throw CommandError(kind, "Invalid CONNECT command near " + std::string(key.raw));
        if (EqualsWord(key.raw, "USER")) {
            cmd.user = value.value;
        } else if (EqualsWord(key.raw, "PASSWORD")) {
            cmd.password = value.value;
        } else if (EqualsWord(key.raw, "ROLE")) {
            cmd.role = RoleName(value);
        } else if (EqualsWord(key.raw, "CACHE")) {
            char* end = nullptr;
            const long cache = std::strtol(value.value.c_str(), &end, 10);
            if (value.value.empty() || *end != '\0' || cache < 0 || cache > 2147483647L)
                throw CommandError(kind, "Invalid CACHE value " + value.value);
            cmd.cache = static_cast<int>(cache);
        } else {
            throw CommandError(kind, "Invalid CONNECT command near " + std::string(key.raw));
        }
    }
    return cmd;
}

// #code, a quoted string, or one character.
std::string ParseDelimiter(const Token& t) {
    if (t.kind == Token::Kind::String || t.kind == Token::Kind::Quoted) {
        if (t.value.empty())
            throw CommandError(CommandKind::Output, "The OUTPUT delimiter is empty");
        return t.value;
    }
    if (t.kind == Token::Kind::Bare && t.value.size() > 1 && t.value[0] == '#') {
        const std::string digits = t.value.substr(1);
        char* end = nullptr;
        const long code = std::strtol(digits.c_str(), &end, 10);
        if (*end != '\0' || digits.find_first_not_of("0123456789") != std::string::npos || code < 1 ||
            code > 255)
            throw CommandError(CommandKind::Output, "Invalid OUTPUT delimiter " + t.value);
        return std::string(1, static_cast<char>(code));
    }
    if (t.kind == Token::Kind::Bare && t.value.size() == 1)
        return t.value;
    throw CommandError(CommandKind::Output, "Invalid OUTPUT delimiter " + std::string(t.raw));
}

Command ParseOutput(TokenReader& tokens) {
    const Token file = tokens.Next();
    if (!IsOperand(file))
        return command::OutputEnd{};
    command::Output cmd;
    cmd.file = file.value;
    const Token option = tokens.Next();
    if (option.kind == Token::Kind::End)
        return cmd;
    if (option.kind != Token::Kind::Bare ||
        !(EqualsWord(option.raw, "DELIMITER") || EqualsWord(option.raw, "DELIMETER")))
        throw CommandError(CommandKind::Output, "Invalid OUTPUT command near " + std::string(option.raw));
    const Token delimiter = tokens.Next();
    if (!IsOperand(delimiter))
        throw CommandError(CommandKind::Output, "OUTPUT DELIMITER needs a delimiter");
    cmd.delimiter = ParseDelimiter(delimiter);
    if (!tokens.AtEnd())
        throw CommandError(CommandKind::Output, "Invalid OUTPUT command: text after the delimiter");
    return cmd;
}

// The isql screen options that mean nothing without a screen.
bool IsScreenOption(std::string_view w) {
    return EqualsWord(w, "ECHO") || EqualsWord(w, "SQLDA_DISPLAY") || EqualsWord(w, "EXEC_PATH_DISPLAY") ||
           EqualsWord(w, "EXPLAIN") || EqualsWord(w, "MAXROWS") || EqualsWord(w, "LOCAL_TIMEOUT") ||
           EqualsWord(w, "AUTOTERM") || EqualsWord(w, "WNG") || AbbreviatesWord(w, "WARNINGS", 7) ||
           AbbreviatesWord(w, "BLOBDISPLAY", 4) || AbbreviatesWord(w, "KEEP_TRAN_PARAMS", 9) ||
           AbbreviatesWord(w, "PER_TABLE_STATS", 7) || AbbreviatesWord(w, "WIRE_STATS", 4);
}

Command ParseSet(TokenReader& tokens) {
    const Token what = tokens.Next();
    if (what.kind == Token::Kind::End)
        return command::SetIgnored{};
    if (what.kind != Token::Kind::Bare)
        return command::Sql{};
    const std::string_view w = what.raw;
    if (EqualsWord(w, "NAMES")) {
        const Token name = tokens.Next();
        if (!tokens.AtEnd())
            throw CommandError(CommandKind::Other, "Invalid SET NAMES command");
        return command::SetNames{name.value};
    }
    if (EqualsWord(w, "SQL")) {
        const Token dialect = tokens.Next();
        if (dialect.kind != Token::Kind::Bare || !EqualsWord(dialect.raw, "DIALECT"))
            return command::Sql{};
        const Token n = tokens.Next();
        if (n.value != "1" && n.value != "2" && n.value != "3")
            throw CommandError(CommandKind::Other, "SQL dialect must be 1, 2 or 3");
        if (!tokens.AtEnd())
            throw CommandError(CommandKind::Other, "Invalid SET SQL DIALECT command");
        return command::SetDialect{n.value[0] - '0'};
    }
    if (AbbreviatesWord(w, "TERMINATOR", 4)) {
        const Token term = tokens.Next();
        command::SetTerm cmd{term.kind == Token::Kind::End ? ";" : std::string(term.raw)};
        if (!tokens.AtEnd())
            throw CommandError(CommandKind::SetTerm, "Invalid SET TERM command");
        CheckTerminator(cmd.terminator);
        return cmd;
    }
    if (const SwitchOption* option = SwitchOptionNamed(w))
        return command::SetSwitch{option->option, ReadSwitch(tokens, option->name)};
    if (EqualsWord(w, "WIDTH")) {
        const Token column = tokens.Next();
        if (column.kind != Token::Kind::Bare && column.kind != Token::Kind::Quoted)
            throw CommandError(CommandKind::Other, "SET WIDTH needs a column name");
        command::SetWidth cmd{RoleName(column)};
        const Token n = tokens.Next();
        if (n.kind != Token::Kind::End) {
            char* end = nullptr;
            const long width = std::strtol(n.value.c_str(), &end, 10);
            if (n.kind != Token::Kind::Bare || *end != '\0' || width < 1 || width > 32767 || !tokens.AtEnd())
                throw CommandError(CommandKind::Other, "SET WIDTH expects a column name and a width");
            cmd.width = static_cast<int>(width);
        }
        return cmd;
    }
    if (EqualsWord(w, "ROWCOUNT")) {
        const Token n = tokens.Next();
        char* end = nullptr;
        const long rows = std::strtol(n.value.c_str(), &end, 10);
        if (n.kind != Token::Kind::Bare || n.value.empty() || *end != '\0' || rows < 0 || !tokens.AtEnd())
            throw CommandError(CommandKind::Other, "SET ROWCOUNT expects a number of rows");
        return command::SetRowCount{static_cast<int>(std::min(rows, 2147483647L))};
    }
    if (AbbreviatesWord(w, "TRANSACTION", 5))
        return command::SetTransaction{};
    if (EqualsWord(w, "TIME")) {
        // SET TIME ZONE is SQL; SET TIME [ON|OFF] only changes the screen.
        const Token next = tokens.Next();
        if (next.kind == Token::Kind::Bare && EqualsWord(next.raw, "ZONE"))
            return command::Sql{};
        return command::SetIgnored{};
    }
    if (IsScreenOption(w))
        return command::SetIgnored{};
    return command::Sql{};
}

// Whether word may be the first of a client command (or of an interactive
// one, which is refused): by its first letter, and only then by the words.
bool MayStartCommand(std::string_view word) {
    if (word.empty() || word.size() > 8)
        return false;
    switch (ascii::ToUpper(static_cast<unsigned char>(word[0]))) {
        case 'S':
            return EqualsWord(word, "SET") || EqualsWord(word, "SHOW") || EqualsWord(word, "SHELL");
        case 'C':
            return EqualsWord(word, "CONNECT") || EqualsWord(word, "CREATE") || EqualsWord(word, "COMMIT") ||
                   EqualsWord(word, "COPY");
        case 'D':
            return EqualsWord(word, "DROP");
        case 'R':
            return EqualsWord(word, "ROLLBACK");
        case 'O':
            return AbbreviatesWord(word, "OUTPUT", 3);
        case 'I':
            return AbbreviatesWord(word, "INPUT", 2);
        case 'E':
            return EqualsWord(word, "EXIT") || EqualsWord(word, "EDIT");
        case 'Q':
            return EqualsWord(word, "QUIT");
        case 'H':
        case 'A':
        case 'B':
            return EqualsWord(word, "HELP") || EqualsWord(word, "ADD") ||
                   AbbreviatesWord(word, "BLOBDUMP", 8) || AbbreviatesWord(word, "BLOBVIEW", 8);
        default:
            return false;
    }
}

}  // namespace

std::string BareName(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(ascii::ToUpper(static_cast<unsigned char>(c)));
    return out;
}

Token TokenReader::Next() {
    Token token;
    const Lexeme t = lexer_.NextCode();
    const std::string_view text = lexer_.Text();
    if (t.kind == TokenKind::End)
        return token;
    if (t.kind == TokenKind::String || t.kind == TokenKind::Quoted) {
        token.kind = t.kind == TokenKind::String ? Token::Kind::String : Token::Kind::Quoted;
        AppendUndoubled(token.value, lexer_.InnerOf(t), text[t.begin]);
        token.raw = lexer_.TextOf(t);
        return token;
    }
    const std::size_t end = lexer_.RunEnd(t.begin);
    lexer_.Seek(end, t.line);
    token.kind = Token::Kind::Bare;
    token.raw = text.substr(t.begin, end - t.begin);
    token.value = std::string(token.raw);
    return token;
}

void CheckTerminator(std::string_view terminator) {
    if (terminator.empty() || terminator.size() > kMaxTerminatorLength)
        throw CommandError(CommandKind::SetTerm, "A terminator has 1 to 31 characters");
    for (const char c : terminator) {
        const auto u = static_cast<unsigned char>(c);
        // isql refuses the comment characters too.
        if (u <= ' ' || u == 127 || c == '\'' || c == '"' || c == '-' || c == '*' || c == '/')
            throw CommandError(CommandKind::SetTerm,
                               "A terminator may not contain blanks, control characters, quotes, -, * or /");
    }
}

Command ParseCommand(std::string_view statement) {
    // Most statements of a large script are SQL; their first word tells so
    // before anything else is read.
    if (!MayStartCommand(Lexer(statement).NextWord()))
        return command::Sql{};
    TokenReader tokens(statement);
    const Token first = tokens.Next();
    if (first.kind != Token::Kind::Bare)
        return command::Sql{};
    const std::string_view w = first.raw;
    if (EqualsWord(w, "SET"))
        return ParseSet(tokens);
    if (EqualsWord(w, "CONNECT"))
        return ParseConnect(tokens);
    if (EqualsWord(w, "CREATE") || EqualsWord(w, "DROP")) {
        const Token what = tokens.Next();
        if (what.kind != Token::Kind::Bare ||
            !(EqualsWord(what.raw, "DATABASE") || EqualsWord(what.raw, "SCHEMA")))
            return command::Sql{};
        if (EqualsWord(w, "CREATE"))
            return command::CreateDatabase{};
        if (!tokens.AtEnd())
            return command::Sql{};
        return command::DropDatabase{};
    }
    if (EqualsWord(w, "COMMIT") || EqualsWord(w, "ROLLBACK")) {
        const bool commit = EqualsWord(w, "COMMIT");
        bool retain = false;
        Token t = tokens.Next();
        if (t.kind == Token::Kind::Bare && EqualsWord(t.raw, "WORK"))
            t = tokens.Next();
        if (t.kind == Token::Kind::Bare && EqualsWord(t.raw, "RETAIN")) {
            retain = true;
            t = tokens.Next();
            if (commit && t.kind == Token::Kind::Bare && EqualsWord(t.raw, "SNAPSHOT"))
                t = tokens.Next();
        }
        // Anything else (ROLLBACK TO SAVEPOINT ...) is SQL.
        if (t.kind != Token::Kind::End)
            return command::Sql{};
        return commit ? Command(command::Commit{retain}) : Command(command::Rollback{retain});
    }
    if (AbbreviatesWord(w, "OUTPUT", 3))
        return ParseOutput(tokens);
    if (AbbreviatesWord(w, "INPUT", 2)) {
        const Token file = tokens.Next();
        if (!IsOperand(file) || file.value.empty())
            throw CommandError(CommandKind::Input, "INPUT needs a file name");
        if (!tokens.AtEnd())
            throw CommandError(CommandKind::Input, "Invalid INPUT command: text after the file name");
        return command::Input{file.value};
    }
    if (EqualsWord(w, "SHOW"))
        return ParseShow(statement);
    if (const std::string refusal = InteractiveCommandRefusal(w); !refusal.empty())
        throw CommandError(CommandKind::Sql, refusal);
    if (EqualsWord(w, "EXIT") || EqualsWord(w, "QUIT")) {
        if (!tokens.AtEnd())
            return command::Sql{};
        return EqualsWord(w, "EXIT") ? Command(command::Exit{}) : Command(command::Quit{});
    }
    return command::Sql{};
}

Command ReadCommand(std::string_view statement) {
    try {
        return ParseCommand(statement);
    } catch (const CommandError& e) {
        if (e.kind == CommandKind::SetTerm || e.kind == CommandKind::Input)
            throw;
        return command::Invalid{e.what()};
    }
}

}  // namespace tallo::engine
