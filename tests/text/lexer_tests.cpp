// The lexer: token kinds, their extent and line, and damaged constructs, as
// one table. Each token reads kind:text@line, with ! for a damaged one.
#include <gtest/gtest.h>

#include <string>

#include "text/lexer.h"

namespace tallo {
namespace {

std::string Render(std::string_view text, std::string_view terminator, bool delimited) {
    static const char* const kKinds[] = {"end", "W", "N", "I", "S", "Q", "X", "D", "C", "T", "O"};
    Lexer lexer(text, terminator);
    std::string out;
    for (;;) {
        const Lexeme t = delimited ? lexer.NextDelimited() : lexer.Next();
        if (t.kind == TokenKind::End)
            return out;
        if (!out.empty())
            out += ' ';
        out.append(kKinds[static_cast<int>(t.kind)]).append(t.damaged ? "!" : ":");
        out.append(lexer.TextOf(t)).append("@").append(std::to_string(t.line));
        if (t.IsLiteral() || t.kind == TokenKind::Quoted)
            out.append("[").append(lexer.InnerOf(t)).append("]");
    }
}

TEST(Lexer, TokenKindsLinesAndDamage) {
    struct Case {
        std::string text, terminator;
        bool delimited;
        std::string tokens;
    };
    const Case cases[] = {
        {"select a1, $b from t;", ";", false, "W:select@1 W:a1@1 O:,@1 W:$b@1 W:from@1 W:t@1 T:;@1"},
        {"12 12.50 .5 12. 1.END 1e5 1.2.3", "", false,
         "N:12@1 N:12.50@1 N:.5@1 N:12.@1 N:1@1 O:.@1 W:END@1 N:1e5@1 N:1.2@1 N:.3@1"},
        {"'it''s' x'4A' X'' _win1251 'a' _ 'b'", "", false,
         "S:'it''s'@1[it''s] X:x'4A'@1[4A] X:X''@1[] I:_win1251@1 S:'a'@1[a] W:_@1 S:'b'@1[b]"},
        {"q'{a'}' Q'(x)' q'[]' q'<>>' q'!it's!' seq'x'", "", false,
         "Q:q'{a'}'@1[a'] Q:Q'(x)'@1[x] Q:q'[]'@1[] Q:q'<>>'@1[>] Q:q'!it's!'@1[it's] W:seq@1 S:'x'@1[x]"},
        {"\"a\"\"b\" -- note;\r\n/* x\ny */ - /", "", false,
         "D:\"a\"\"b\"@1[a\"\"b] C:-- note;@1 C:/* x\ny */@2 O:-@3 O:/@3"},
        {"a\r\nb\nc\rd\r\r\ne", "", false, "W:a@1 W:b@2 W:c@3 W:d@4 W:e@6"},
        {"a ^^ b^^^", "^^", false, "W:a@1 T:^^@1 W:b@1 T:^^@1 O:^@1"},
        {"\n'open", "", false, "S!'open@2[open]"},
        {"\"open", "", false, "D!\"open@1[open]"},
        {"q'{open}", "", false, "Q!q'{open}@1[open}]"},
        {"x /* open", "", false, "W:x@1 C!/* open@1"},
        {"q'", "", false, "W:q@1 S!'@1[]"},
        // The bulk mode: only what hides or ends a statement, a terminator
        // inside a word too.
        {"insert into t values (1, 'a;b', x'41') -- c\r\n;", ";", true,
         "S:'a;b'@1[a;b] X:x'41'@1[41] C:-- c@1 T:;@2"},
        {"select q'{;}' \"x;\" from t GO go", "GO", true, "Q:q'{;}'@1[;] D:\"x;\"@1[x;] T:GO@1"},
        {"WORDGOES /* ;\n */ ab'c", "GO", true, "T:GO@1 C:/* ;\n */@1 S!'c@2[c]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Render(c.text, c.terminator, c.delimited), c.tokens) << c.text;
}

}  // namespace
}  // namespace tallo
