// The pre-run check of a statement's bytes against the connection's
// character set, read through the lexer.
#include "engine/charset_check.h"

#include <gtest/gtest.h>

#include <functional>

#include <string>

#include "engine/script.h"
#include "tests/support/piece_source.h"

namespace tallo::engine {
namespace {

TEST(CharsetCheck, IntroducedLiteralsAnswerToTheirOwnCharacterSet) {
    const struct {
        std::string_view statement, charset;
        std::string_view rest;  // the text from the byte reported ("" when none)
    } cases[] = {
        // A q-string holding a quote, with each kind of delimiter, before an
        // introduced string.
        {"insert into t values (q'{it's}', _win1251 '\xB8')", "UTF8", ""},
        {"insert into t values (q'(it's)', _win1251 '\xB8')", "UTF8", ""},
        {"insert into t values (q'[it's]', _win1251 '\xB8')", "UTF8", ""},
        {"insert into t values (Q'<it's>', _WIN1251 '\xB8')", "UTF8", ""},
        {"insert into t values (q'!it's!', _win1251 '\xB8')", "UTF8", ""},
        {"insert into t values (q'{it's}', '\xB8')", "UTF8", "\xB8')"},
        {"insert into t values (q'{it's}', _win1251 '\x98')", "UTF8", "\x98')"},
        // Quotes in comments and quoted identifiers; comments between the
        // introducer and its string.
        {"select /* it's */ _win1251 '\xB8' from rdb$database", "UTF8", ""},
        {"select -- it's\n _win1251 '\xB8' from rdb$database", "UTF8", ""},
        {"select _win1251 /* it's */ -- '\n '\xB8' from rdb$database", "UTF8", ""},
        {"select \"it's\" from \"it's\" where \"it's\" = _win1251 '\xB8'", "UTF8", ""},
        {"select 'x' from t /* it's \xB8 */", "UTF8", "\xB8 */"},
        {"select \"\xB8\" from t", "UTF8", "\xB8\" from t"},
        // Introduced q-strings, doubled quotes, and a string after one.
        {"select _win1251 q'{\xB8}' from t", "UTF8", ""},
        {"select _win1251 q'\xB8\xE6\xB8' from t", "UTF8", ""},  // any byte may delimit it
        {"select _utf8 q'\xB8\xD1\x91\xB8' from t", "UTF8", ""},
        {"select _utf8 q'\xB8\xD1\xB8' from t", "UTF8", "\xD1\xB8' from t"},
        {"select q'\xB8\xE6\xB8' from t", "UTF8", "\xB8\xE6\xB8' from t"},
        {"x _win1251 '\xC6''\xC6' y", "UTF8", ""},
        {"_win1251 '\xC6' '\xC6'", "UTF8", "\xC6'"},
        {"_UTF8 '\xC5\x98'", "WIN1251", ""},
        {"_win1251 'a''\x98'", "WIN1251", "\x98'"},
        // The introducer itself is the connection's.
        {"_win1251\xB8 'x'", "UTF8", "\xB8 'x'"},
        {"_none '\x98' '\x98'", "WIN1251", "\x98'"},
        {"ok '\xD0\x96'", "UTF8", ""},
    };
    for (const auto& c : cases) {
        const std::size_t bad = FirstByteOutsideCharset(c.statement, c.charset);
        EXPECT_EQ(bad == std::string_view::npos ? "" : c.statement.substr(bad), c.rest) << c.statement;
    }
}

TEST(CharsetCheck, ThePreflightChecksOnTheConnectionsCharacterSet) {
    const std::string script =
        "SET NAMES UTF8;\nCONNECT 'db.fdb';\ninsert into t values (q'{it's}', _win1251 '\xB8');\n"
        "insert into t values ('\xD0\x96', '\xB8');\n";
    // Read whole, and in pieces as the worker reads it.
    PieceSource pieces(script, 5);
    for (const std::function<void()>& load : {std::function<void()>([&] { LoadScript(script); }),
                                              std::function<void()>([&] { Preflight(pieces); })}) {
        try {
            load();
            ADD_FAILURE() << "accepted";
        } catch (const PreflightFailure& f) {
            EXPECT_STREQ(
                f.what(),
                "The script: line 4, column 29: the byte 0xB8 is not a character of the character set UTF8");
            EXPECT_EQ(f.line, 4u);
        }
    }
}

}  // namespace
}  // namespace tallo::engine
