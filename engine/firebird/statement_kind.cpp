#include "engine/firebird/statement_kind.h"

#include <cctype>

namespace tallo::engine::fb {
namespace {

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$';
}

// Reads the statement's words one by one, past blanks and comments.
class Words {
  public:
    explicit Words(std::string_view text) : text_(text) {}

    // The next word upper-cased into word_ (ASCII letters only); false at
    // the end or at a character that starts no word (which is kept).
    bool Next() {
        SkipBlanks();
        word_len_ = 0;
        while (pos_ < text_.size() && IsWordChar(text_[pos_])) {
            if (word_len_ < sizeof word_) {
                word_[word_len_++] = static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_])));
            }
            ++pos_;
        }
        return word_len_ > 0;
    }
    bool Is(std::string_view w) const { return std::string_view(word_, word_len_) == w; }
    bool AtEnd() {
        SkipBlanks();
        return pos_ >= text_.size();
    }
    char Peek() {
        SkipBlanks();
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }
    std::string_view Rest() const { return text_.substr(pos_); }

  private:
    void SkipBlanks() {
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
                ++pos_;
            } else if (c == '-' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '-') {
                while (pos_ < text_.size() && text_[pos_] != '\n' && text_[pos_] != '\r')
                    ++pos_;
            } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '*') {
                std::size_t end = text_.find("*/", pos_ + 2);
                pos_ = end == std::string_view::npos ? text_.size() : end + 2;
            } else {
                break;
            }
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    char word_[16];
    std::size_t word_len_ = 0;
};

// Whether the word RETURNING stands anywhere in text (outside nothing in
// particular: a false hit only costs a prepare).
bool MentionsReturning(std::string_view text) {
    static constexpr std::string_view kWord = "RETURNING";
    for (std::size_t i = 0; i + kWord.size() <= text.size(); ++i) {
        if ((text[i] | 0x20) != 'r')
            continue;
        std::size_t k = 0;
        while (k < kWord.size() && std::toupper(static_cast<unsigned char>(text[i + k])) == kWord[k])
            ++k;
        if (k == kWord.size() && (i == 0 || !IsWordChar(text[i - 1])) &&
            (i + k == text.size() || !IsWordChar(text[i + k]))) {
            return true;
        }
    }
    return false;
}

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
        return MentionsReturning(w.Rest()) ? StatementKind::Prepared : StatementKind::Plain;
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
