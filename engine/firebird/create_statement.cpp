#include "engine/firebird/create_statement.h"

#include <cctype>
#include <string_view>

namespace tallo::engine::fb {
namespace {

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$';
}

bool SameWord(std::string_view a, std::string_view upper) {
    if (a.size() != upper.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != upper[i])
            return false;
    }
    return true;
}

// Walks the statement's words and literals, skipping comments.
struct Scan {
    std::string_view text;
    std::size_t pos = 0;

    // The next token: a word, a quoted literal (with its quotes) or one
    // other character; empty at the end.
    std::string_view Next() {
        for (;;) {
            while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
                ++pos;
            if (text.compare(pos, 2, "--") == 0) {
                while (pos < text.size() && text[pos] != '\n' && text[pos] != '\r')
                    ++pos;
            } else if (text.compare(pos, 2, "/*") == 0) {
                std::size_t end = text.find("*/", pos + 2);
                pos = end == std::string_view::npos ? text.size() : end + 2;
            } else {
                break;
            }
        }
        if (pos >= text.size())
            return {};
        std::size_t start = pos;
        char c = text[pos];
        if (c == '\'' || c == '"') {
            ++pos;
            while (pos < text.size()) {
                if (text[pos] == c) {
                    if (pos + 1 < text.size() && text[pos + 1] == c) {
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                ++pos;
            }
        } else if (IsWordChar(c)) {
            while (pos < text.size() && IsWordChar(text[pos]))
                ++pos;
        } else {
            ++pos;
        }
        return text.substr(start, pos - start);
    }
};

}  // namespace

std::string QuoteLiteral(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out.push_back(c);
        if (c == '\'')
            out.push_back('\'');
    }
    out.push_back('\'');
    return out;
}

std::string CompleteCreateDatabase(const std::string& statement, const ConnectParams& params) {
    Scan scan{statement};
    std::size_t insert_at = std::string::npos;
    bool has_user = false, has_password = false, has_names = false;
    std::string_view previous;
    for (std::string_view token = scan.Next(); !token.empty(); token = scan.Next()) {
        if (insert_at == std::string::npos && (token[0] == '\'' || token[0] == '"')) {
            insert_at = scan.pos;  // right after the file name
        } else if (SameWord(token, "USER")) {
            has_user = true;
        } else if (SameWord(token, "PASSWORD")) {
            has_password = true;
        } else if (SameWord(token, "NAMES") && SameWord(previous, "SET")) {
            has_names = true;
        }
        previous = token;
    }
    if (insert_at == std::string::npos)
        return statement;  // Firebird reports what is wrong
    std::string options;
    if (!has_user && !params.user.empty())
        options += " USER " + QuoteLiteral(params.user);
    if (!has_password && !params.password.empty())
        options += " PASSWORD " + QuoteLiteral(params.password);
    if (!has_names && !params.charset.empty())
        options += " SET NAMES " + QuoteLiteral(params.charset);
    std::string out = statement;
    out.insert(insert_at, options);
    return out;
}

}  // namespace tallo::engine::fb
