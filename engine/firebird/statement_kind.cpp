#include "engine/firebird/statement_kind.h"

#include <cctype>

#include "engine/splitter.h"
#include "engine/words.h"

namespace tallo::engine::fb {
namespace {

// Reads the statement's words one by one, past blanks and comments.
class Words {
  public:
    explicit Words(std::string_view text) : text_(text) {}

    // The next word; false at the end or at a character that starts no word
    // (which is kept).
    bool Next() {
        pos_ = SkipBlanksAndCommentsAt(text_, pos_);
        const std::size_t start = pos_;
        while (pos_ < text_.size() && IsWordByte(static_cast<unsigned char>(text_[pos_])))
            ++pos_;
        word_ = text_.substr(start, pos_ - start);
        return !word_.empty();
    }
    bool Is(std::string_view upper) const { return EqualsWord(word_, upper); }
    bool AtEnd() {
        pos_ = SkipBlanksAndCommentsAt(text_, pos_);
        return pos_ >= text_.size();
    }
    std::string_view Rest() const { return text_.substr(pos_); }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::string_view word_;
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
        return MentionsWord(w.Rest(), "RETURNING") ? StatementKind::Prepared : StatementKind::Plain;
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
    if (colon == 1 && std::isalpha(static_cast<unsigned char>(database[0])))
        return false;
    char first = database[0];
    return first != '/' && first != '.' && first != '\\';
}

}  // namespace tallo::engine::fb
