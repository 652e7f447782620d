#include "engine/firebird/create_statement.h"

#include "text/lexer.h"

namespace tallo::engine::fb {

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
    Lexer lexer(statement);
    std::size_t insert_at = std::string::npos;
    bool has_user = false, has_password = false, has_names = false;
    std::string_view previous;
    for (Lexeme t = lexer.NextCode(); t.kind != TokenKind::End; t = lexer.NextCode()) {
        const std::string_view token = lexer.TextOf(t);
        if (insert_at == std::string::npos && (t.IsLiteral() || t.kind == TokenKind::Quoted)) {
            insert_at = t.end;  // right after the file name
        } else if (t.kind == TokenKind::Word) {
            has_user = has_user || EqualsWord(token, "USER");
            has_password = has_password || EqualsWord(token, "PASSWORD");
            has_names = has_names || (EqualsWord(token, "NAMES") && EqualsWord(previous, "SET"));
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
