#include "engine/firebird/statement_kind.h"

#include "text/letter_case.h"
#include "text/lexer.h"

namespace tallo::engine::fb {
namespace {

// Reads the statement's words one by one, past comments.
class Words {
  public:
    explicit Words(std::string_view text) : lexer_(text) {}

    // The next token; false when it is no word (or the end).
    bool Next() {
        t_ = lexer_.NextCode();
        return t_.IsBare();
    }
    bool Is(std::string_view upper) const {
        return t_.kind == TokenKind::Word && EqualsWord(lexer_.TextOf(t_), upper);
    }
    bool AtEnd() const { return lexer_.PeekCode().kind == TokenKind::End; }
    std::string_view Rest() const { return lexer_.Text().substr(lexer_.Position()); }

  private:
    Lexer lexer_;
    Lexeme t_;
};

// COMMIT/ROLLBACK [WORK] [RETAIN [SNAPSHOT]]; anything else after them
// (ROLLBACK TO SAVEPOINT) is left to the server.
StatementKind EndOfTransaction(Words& w, StatementKind plain, StatementKind retain) {
    if (w.AtEnd())
        return plain;
    if (!w.Next())
        return StatementKind::Prepared;
    if (w.Is("WORK")) {
        if (w.AtEnd())
            return plain;
        if (!w.Next())
            return StatementKind::Prepared;
    }
    if (!w.Is("RETAIN"))
        return StatementKind::Prepared;
    if (w.AtEnd())
        return retain;
    if (w.Next() && w.Is("SNAPSHOT") && w.AtEnd())
        return retain;
    return StatementKind::Prepared;
}

}  // namespace

StatementKind ClassifyStatement(std::string_view sql) {
    Words w(sql);
    if (!w.Next())
        return StatementKind::Prepared;
    if (w.Is("INSERT") || w.Is("UPDATE") || w.Is("DELETE") || w.Is("MERGE")) {
        return HasWord(w.Rest(), "RETURNING") ? StatementKind::Prepared : StatementKind::Plain;
    }
    if (w.Is("CREATE") || w.Is("ALTER") || w.Is("DROP") || w.Is("RECREATE") || w.Is("COMMENT") ||
        w.Is("GRANT") || w.Is("REVOKE") || w.Is("DECLARE")) {
        return StatementKind::Ddl;
    }
    if (w.Is("SAVEPOINT") || w.Is("RELEASE"))
        return StatementKind::Plain;
    if (w.Is("COMMIT"))
        return EndOfTransaction(w, StatementKind::Commit, StatementKind::CommitRetain);
    if (w.Is("ROLLBACK"))
        return EndOfTransaction(w, StatementKind::Rollback, StatementKind::RollbackRetain);
    if (w.Is("SET")) {
        if (!w.Next())
            return StatementKind::Prepared;
        if (w.Is("TRANSACTION"))
            return StatementKind::SetTransaction;
        if (w.Is("GENERATOR") || w.Is("STATISTICS"))
            return StatementKind::Ddl;
    }
    return StatementKind::Prepared;
}

bool IsServerDatabase(std::string_view database) {
    if (database.size() >= 2 && database[0] == '\\' && database[1] == '\\')
        return true;
    std::size_t colon = database.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    if (colon == 1 && ascii::IsLetter(static_cast<unsigned char>(database[0])))
        return false;
    char first = database[0];
    return first != '/' && first != '.' && first != '\\';
}

}  // namespace tallo::engine::fb
