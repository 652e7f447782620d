#include "engine/commands.h"

#include <algorithm>
#include <cstdlib>

#include "engine/show.h"
#include "text/letter_case.h"

namespace tallo::engine {

namespace {

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(ascii::ToUpper(static_cast<unsigned char>(c)));
    return out;
}

// ON, OFF or nothing (toggle); anything else makes the command invalid.
std::optional<bool> ReadSwitch(TokenReader& tokens, CommandKind kind, const char* name) {
    const Token t = tokens.Next();
    std::optional<bool> on;
    if (t.kind == Token::Kind::End)
        return on;
    if (t.kind == Token::Kind::Bare && EqualsWord(t.raw, "ON")) {
        on = true;
    } else if (t.kind == Token::Kind::Bare && EqualsWord(t.raw, "OFF")) {
        on = false;
    } else {
        throw CommandError(kind, std::string("SET ") + name + " expects ON or OFF");
    }
    if (!tokens.AtEnd())
        throw CommandError(kind, std::string("SET ") + name + " expects ON or OFF");
    return on;
}

// The SET options that are switched ON, OFF or toggled, each with the
// shortest abbreviation isql takes.
struct SwitchOption {
    const char* name;
    std::size_t min_length;
    CommandKind kind;
};

constexpr SwitchOption kSwitchOptions[] = {
    {"AUTODDL", 4, CommandKind::SetAutoddl},   {"BAIL", 4, CommandKind::SetBail},
    {"COUNT", 5, CommandKind::SetCount},       {"HEADING", 7, CommandKind::SetHeading},
    {"LIST", 4, CommandKind::SetList},         {"PLAN", 4, CommandKind::SetPlan},
    {"PLANONLY", 8, CommandKind::SetPlanOnly}, {"STATS", 4, CommandKind::SetStats},
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
    return t.kind == Token::Kind::Bare ? Upper(t.value) : t.value;
}

Command ParseConnect(TokenReader& tokens) {
    Command cmd;
    cmd.kind = CommandKind::Connect;
    const Token db = tokens.Next();
    if (!IsOperand(db))
        throw CommandError(cmd.kind, "CONNECT needs a database name");
    cmd.connect.database = db.value;
    for (Token key = tokens.Next(); key.kind != Token::Kind::End; key = tokens.Next()) {
        const Token value = tokens.Next();
        if (key.kind != Token::Kind::Bare || !IsOperand(value))
            throw CommandError(cmd.kind, "Invalid CONNECT command near " + std::string(key.raw));
        if (EqualsWord(key.raw, "USER")) {
            cmd.connect.user = value.value;
        } else if (EqualsWord(key.raw, "PASSWORD")) {
            cmd.connect.password = value.value;
        } else if (EqualsWord(key.raw, "ROLE")) {
            cmd.connect.role = RoleName(value);
        } else if (EqualsWord(key.raw, "CACHE")) {
            char* end = nullptr;
            const long cache = std::strtol(value.value.c_str(), &end, 10);
            if (value.value.empty() || *end != '\0' || cache < 0 || cache > 2147483647L)
                throw CommandError(cmd.kind, "Invalid CACHE value " + value.value);
            cmd.connect.cache = static_cast<int>(cache);
        } else {
            throw CommandError(cmd.kind, "Invalid CONNECT command near " + std::string(key.raw));
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
    Command cmd;
    const Token file = tokens.Next();
    if (!IsOperand(file)) {
        cmd.kind = CommandKind::OutputEnd;
        return cmd;
    }
    cmd.kind = CommandKind::Output;
    cmd.arg = file.value;
    const Token option = tokens.Next();
    if (option.kind == Token::Kind::End)
        return cmd;
    if (option.kind != Token::Kind::Bare ||
        !(EqualsWord(option.raw, "DELIMITER") || EqualsWord(option.raw, "DELIMETER")))
        throw CommandError(cmd.kind, "Invalid OUTPUT command near " + std::string(option.raw));
    const Token delimiter = tokens.Next();
    if (!IsOperand(delimiter))
        throw CommandError(cmd.kind, "OUTPUT DELIMITER needs a delimiter");
    cmd.delimiter = ParseDelimiter(delimiter);
    if (!tokens.AtEnd())
        throw CommandError(cmd.kind, "Invalid OUTPUT command: text after the delimiter");
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

Command ParseSet(std::string_view statement, TokenReader& tokens) {
    Command cmd;
    const Token what = tokens.Next();
    if (what.kind == Token::Kind::End) {
        cmd.kind = CommandKind::SetIgnored;
        return cmd;
    }
    if (what.kind != Token::Kind::Bare)
        return cmd;
    const std::string_view w = what.raw;
    if (EqualsWord(w, "NAMES")) {
        cmd.kind = CommandKind::SetNames;
        const Token name = tokens.Next();
        cmd.arg = name.value;
        if (!tokens.AtEnd())
            throw CommandError(cmd.kind, "Invalid SET NAMES command");
    } else if (EqualsWord(w, "SQL")) {
        const Token dialect = tokens.Next();
        if (dialect.kind != Token::Kind::Bare || !EqualsWord(dialect.raw, "DIALECT"))
            return cmd;
        cmd.kind = CommandKind::SetDialect;
        const Token n = tokens.Next();
        if (n.value != "1" && n.value != "2" && n.value != "3")
            throw CommandError(cmd.kind, "SQL dialect must be 1, 2 or 3");
        if (!tokens.AtEnd())
            throw CommandError(cmd.kind, "Invalid SET SQL DIALECT command");
        cmd.number = n.value[0] - '0';
    } else if (AbbreviatesWord(w, "TERMINATOR", 4)) {
        cmd.kind = CommandKind::SetTerm;
        const Token term = tokens.Next();
        cmd.arg = term.kind == Token::Kind::End ? ";" : std::string(term.raw);
        if (!tokens.AtEnd())
            throw CommandError(cmd.kind, "Invalid SET TERM command");
        CheckTerminator(cmd.arg);
    } else if (const SwitchOption* option = SwitchOptionNamed(w)) {
        cmd.kind = option->kind;
        cmd.on = ReadSwitch(tokens, cmd.kind, option->name);
    } else if (EqualsWord(w, "WIDTH")) {
        cmd.kind = CommandKind::SetWidth;
        const Token column = tokens.Next();
        if (column.kind != Token::Kind::Bare && column.kind != Token::Kind::Quoted)
            throw CommandError(cmd.kind, "SET WIDTH needs a column name");
        cmd.arg = RoleName(column);
        const Token n = tokens.Next();
        if (n.kind != Token::Kind::End) {
            char* end = nullptr;
            const long width = std::strtol(n.value.c_str(), &end, 10);
            if (n.kind != Token::Kind::Bare || *end != '\0' || width < 1 || width > 32767 || !tokens.AtEnd())
                throw CommandError(cmd.kind, "SET WIDTH expects a column name and a width");
            cmd.number = static_cast<int>(width);
        }
    } else if (EqualsWord(w, "ROWCOUNT")) {
        cmd.kind = CommandKind::SetRowCount;
        const Token n = tokens.Next();
        char* end = nullptr;
        const long rows = std::strtol(n.value.c_str(), &end, 10);
        if (n.kind != Token::Kind::Bare || n.value.empty() || *end != '\0' || rows < 0 || !tokens.AtEnd())
            throw CommandError(cmd.kind, "SET ROWCOUNT expects a number of rows");
        cmd.number = static_cast<int>(std::min(rows, 2147483647L));
    } else if (AbbreviatesWord(w, "TRANSACTION", 5)) {
        cmd.kind = CommandKind::SetTransaction;
        cmd.arg = std::string(statement);
    } else if (EqualsWord(w, "TIME")) {
        // SET TIME ZONE is SQL; SET TIME [ON|OFF] only changes the screen.
        const Token next = tokens.Next();
        if (!(next.kind == Token::Kind::Bare && EqualsWord(next.raw, "ZONE")))
            cmd.kind = CommandKind::SetIgnored;
    } else if (IsScreenOption(w)) {
        cmd.kind = CommandKind::SetIgnored;
    }
    return cmd;
}

}  // namespace

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
    TokenReader tokens(statement);
    const Token first = tokens.Next();
    Command sql;
    if (first.kind != Token::Kind::Bare)
        return sql;
    const std::string_view w = first.raw;
    if (EqualsWord(w, "SET"))
        return ParseSet(statement, tokens);
    if (EqualsWord(w, "CONNECT"))
        return ParseConnect(tokens);
    if (EqualsWord(w, "CREATE") || EqualsWord(w, "DROP")) {
        const Token what = tokens.Next();
        if (what.kind != Token::Kind::Bare ||
            !(EqualsWord(what.raw, "DATABASE") || EqualsWord(what.raw, "SCHEMA")))
            return sql;
        Command cmd;
        if (EqualsWord(w, "CREATE")) {
            cmd.kind = CommandKind::CreateDatabase;
            cmd.arg = std::string(statement);
            return cmd;
        }
        if (!tokens.AtEnd())
            return sql;
        cmd.kind = CommandKind::DropDatabase;
        return cmd;
    }
    if (EqualsWord(w, "COMMIT") || EqualsWord(w, "ROLLBACK")) {
        Command cmd;
        cmd.kind = EqualsWord(w, "COMMIT") ? CommandKind::Commit : CommandKind::Rollback;
        Token t = tokens.Next();
        if (t.kind == Token::Kind::Bare && EqualsWord(t.raw, "WORK"))
            t = tokens.Next();
        if (t.kind == Token::Kind::Bare && EqualsWord(t.raw, "RETAIN")) {
            cmd.retain = true;
            t = tokens.Next();
            if (cmd.kind == CommandKind::Commit && t.kind == Token::Kind::Bare &&
                EqualsWord(t.raw, "SNAPSHOT"))
                t = tokens.Next();
        }
        // Anything else (ROLLBACK TO SAVEPOINT ...) is SQL.
        return t.kind == Token::Kind::End ? cmd : sql;
    }
    if (AbbreviatesWord(w, "OUTPUT", 3))
        return ParseOutput(tokens);
    if (AbbreviatesWord(w, "INPUT", 2)) {
        Command cmd;
        cmd.kind = CommandKind::Input;
        const Token file = tokens.Next();
        if (!IsOperand(file) || file.value.empty())
            throw CommandError(cmd.kind, "INPUT needs a file name");
        if (!tokens.AtEnd())
            throw CommandError(cmd.kind, "Invalid INPUT command: text after the file name");
        cmd.arg = file.value;
        return cmd;
    }
    if (EqualsWord(w, "SHOW")) {
        Command cmd;
        cmd.kind = CommandKind::Show;
        cmd.arg = std::string(statement);
        return cmd;
    }
    if (const std::string refusal = InteractiveCommandRefusal(w); !refusal.empty())
        throw CommandError(CommandKind::Sql, refusal);
    if (EqualsWord(w, "EXIT") || EqualsWord(w, "QUIT")) {
        if (!tokens.AtEnd())
            return sql;
        Command cmd;
        cmd.kind = EqualsWord(w, "EXIT") ? CommandKind::Exit : CommandKind::Quit;
        return cmd;
    }
    return sql;
}

}  // namespace tallo::engine
