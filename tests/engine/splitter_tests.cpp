// The splitter and the pre-flight, grouped by construct.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/commands.h"
#include "engine/script.h"
#include "engine/splitter.h"
#include "tests/support/piece_source.h"
#include "tests/support/temp_dir.h"

namespace tallo::engine {
namespace {

// Every helper reads the text whole and, as a worker does, in windows (cut
// after every byte, and every 7 bytes), and expects the same of both.
constexpr std::size_t kPieces[] = {1, 7};

struct Read {
    std::vector<std::string> texts;
    std::vector<std::size_t> lines;
    std::string refusal = "accepted";  // "message @ line"
    bool operator==(const Read&) const = default;
};

Read Refused(const PreflightFailure& f) {
    Read read;
    read.refusal = std::string(f.what()) + " @ " + std::to_string(f.line);
    return read;
}

Read ReadWhole(std::string_view text) {
    Read read;
    try {
        for (const Statement& s : LoadScript(text).statements) {
            read.texts.emplace_back(s.text);
            read.lines.push_back(s.line);
        }
    } catch (const PreflightFailure& f) {
        read = Refused(f);
    }
    return read;
}

Read ReadInPieces(std::string_view text, std::size_t piece) {
    Read read;
    PieceSource source(text, piece);
    try {
        const Script script = Preflight(source);
        StatementReader reader(script, source);
        while (const auto s = reader.Next()) {
            read.texts.emplace_back(s->text);
            read.lines.push_back(s->line);
        }
        EXPECT_EQ(read.texts.size(), script.count);
    } catch (const PreflightFailure& f) {
        read = Refused(f);
    }
    return read;
}

Read ReadBothWays(std::string_view text) {
    const Read whole = ReadWhole(text);
    for (const std::size_t piece : kPieces)
        EXPECT_EQ(ReadInPieces(text, piece), whole) << "in pieces of " << piece << ": " << text;
    return whole;
}

std::vector<std::string> Split(std::string_view text) {
    return ReadBothWays(text).texts;
}

std::vector<std::size_t> Lines(std::string_view text) {
    return ReadBothWays(text).lines;
}

// The failure of a damaged script: "message @ line".
std::string Refusal(std::string_view text) {
    return ReadBothWays(text).refusal;
}

using V = std::vector<std::string>;

TEST(SplitterBasics, CutsAtTerminatorAndDropsLeadingBlanksAndComments) {
    EXPECT_EQ(Split("  select 1 from t;\n\n-- note\n/* block */ select 2 ;"),
              (V{"select 1 from t", "select 2"}));
}

TEST(SplitterBasics, SkipsEmptyStatementsAndCommentOnlyText) {
    EXPECT_EQ(Split(";;select 1;;"), (V{"select 1"}));
    EXPECT_EQ(Split("-- only a comment\n/* and another */\n"), V{});
    EXPECT_EQ(Split(""), V{});
}

TEST(SplitterBasics, KeepsCommentsInsideAStatement) {
    EXPECT_EQ(Split("select 1 /* one; */ , 2 -- two;\n from t;"),
              (V{"select 1 /* one; */ , 2 -- two;\n from t"}));
}

TEST(SplitterBasics, TextEndsAtFirstNulByte) {
    const std::string text = std::string("select 1;\0select 'broken", 24);
    EXPECT_EQ(Split(text), (V{"select 1"}));
}

TEST(SplitterStrings, TerminatorInsideStringsAndDoubledQuotes) {
    EXPECT_EQ(Split("insert into t values ('a;b', 'it''s; fine');select 2;"),
              (V{"insert into t values ('a;b', 'it''s; fine')", "select 2"}));
}

TEST(SplitterStrings, TerminatorInsideQuotedIdentifiers) {
    EXPECT_EQ(Split("select \"a;b\"\"c\" from \"T;\";"), (V{"select \"a;b\"\"c\" from \"T;\""}));
}

TEST(SplitterStrings, CommentMarkersInsideStringsAreText) {
    EXPECT_EQ(Split("select '--', '/*' from t; select 2;"), (V{"select '--', '/*' from t", "select 2"}));
}

TEST(SplitterQStrings, EveryBracketFormAndOwnDelimiter) {
    EXPECT_EQ(Split("select q'{a;b}' from t;"), (V{"select q'{a;b}' from t"}));
    EXPECT_EQ(Split("select Q'(a;')' from t;"), (V{"select Q'(a;')' from t"}));
    EXPECT_EQ(Split("select q'[;]', q'<;>' from t;"), (V{"select q'[;]', q'<;>' from t"}));
    EXPECT_EQ(Split("select q'!it's; here!' from t;"), (V{"select q'!it's; here!' from t"}));
}

TEST(SplitterQStrings, QAtTheEndOfAWordIsNoQString) {
    // "seq" ends a word, so its quote opens an ordinary string.
    EXPECT_EQ(Split("select seq';' from t;"), (V{"select seq';' from t"}));
}

TEST(SplitterLineEnds, CrLfLfAndLoneCrEachEndALine) {
    EXPECT_EQ(Lines("select 1;\r\nselect 2;\nselect 3;\rselect 4;"), (std::vector<std::size_t>{1, 2, 3, 4}));
}

TEST(SplitterLineEnds, LineCommentEndsAtLoneCr) {
    EXPECT_EQ(Split("select 1 -- comment;\rfrom t;"), (V{"select 1 -- comment;\rfrom t"}));
}

TEST(SplitterLineEnds, LinesCountInsideStringsAndComments) {
    EXPECT_EQ(Lines("select 'a\r\nb' from t;\r\n/* x\r\ny */\r\nselect 2;"),
              (std::vector<std::size_t>{1, 5}));
}

TEST(SplitterWin1251, HighBytesPassUnchanged) {
    const std::string text = "insert into t values ('\xCF\xF0\xE8\xE2\xE5\xF2;');\n";
    EXPECT_EQ(Split(text), (V{"insert into t values ('\xCF\xF0\xE8\xE2\xE5\xF2;')"}));
}

TEST(SplitterSetTerm, RoundTripAsIsqlSplitsIt) {
    const char* text =
        "SET TERM ^ ;\n"
        "CREATE PROCEDURE P AS BEGIN x = 1; END^\n"
        "SET TERM ; ^\n"
        "select 1;";
    EXPECT_EQ(Split(text),
              (V{"SET TERM ^", "CREATE PROCEDURE P AS BEGIN x = 1; END", "SET TERM ;", "select 1"}));
}

TEST(SplitterSetTerm, AnyCaseAbbreviationsAndMultiCharacterTerminators) {
    EXPECT_EQ(Split("set term !! ;select 1!!Set Terminator ;!!select 2;"),
              (V{"set term !!", "select 1", "Set Terminator ;", "select 2"}));
    EXPECT_EQ(Split("SET TERMI ^;select 1^"), (V{"SET TERMI ^", "select 1"}));
}

TEST(SplitterSetTerm, ThirtyOneCharactersAtMost) {
    const std::string term31(31, '#');
    EXPECT_EQ(Split("SET TERM " + term31 + ";select 1" + term31), (V{"SET TERM " + term31, "select 1"}));
    EXPECT_EQ(Refusal("select 0;\nSET TERM " + std::string(32, '#') + ";select 1;"),
              "A terminator has 1 to 31 characters @ 2");
}

TEST(SplitterSetTerm, QuotesBlanksAndControlCharactersAreRefused) {
    EXPECT_THROW(CheckTerminator("^'"), CommandError);
    EXPECT_THROW(CheckTerminator("\"^"), CommandError);
    EXPECT_THROW(CheckTerminator("a\tb"), CommandError);
    EXPECT_THROW(CheckTerminator(""), CommandError);
    EXPECT_NO_THROW(CheckTerminator("GO"));
    EXPECT_NO_THROW(CheckTerminator("!!"));
}

TEST(SplitterSetTerm, TerminatorInsideStringsUnderNewTerminator) {
    EXPECT_EQ(Split("SET TERM ^;select '^' from t^"), (V{"SET TERM ^", "select '^' from t"}));
}

TEST(SplitterPsql, ProcedureWithoutSetTerm) {
    const char* text =
        "CREATE PROCEDURE P (A INTEGER) RETURNS (B INTEGER) AS\n"
        "  DECLARE VARIABLE X INTEGER;\n"
        "BEGIN\n"
        "  IF (A > 0) THEN BEGIN B = A; END\n"
        "  ELSE B = 0;\n"
        "  SUSPEND;\n"
        "END;\n"
        "select 1 from rdb$database;";
    const V got = Split(text);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].substr(got[0].size() - 3), "END");
    EXPECT_EQ(got[1], "select 1 from rdb$database");
}

TEST(SplitterPsql, CaseEndIsCountedAndWordsInStringsCommentsIdentifiersAreNot) {
    const char* text =
        "CREATE OR ALTER TRIGGER T1 FOR T ACTIVE BEFORE INSERT AS\n"
        "BEGIN\n"
        "  NEW.X = CASE WHEN NEW.Y = 1 THEN 'END;' ELSE 'BEGIN' END;\n"
        "  -- END;\n"
        "  /* BEGIN */ NEW.\"END\" = 1; NEW.END_DATE = NULL;\n"
        "END;\n"
        "COMMIT;";
    const V got = Split(text);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], "COMMIT");
}

TEST(SplitterPsql, ExecuteBlockAndRecreateFunction) {
    EXPECT_EQ(Split("execute block as declare i int; begin i = 1; end; select 1;").size(), 2u);
    EXPECT_EQ(Split("RECREATE FUNCTION F RETURNS INT AS BEGIN RETURN 1; END; select 1;").size(), 2u);
}

TEST(SplitterPsql, PackageBodyWithNestedRoutines) {
    const char* text =
        "CREATE PACKAGE BODY PK AS\n"
        "BEGIN\n"
        "  PROCEDURE P1 AS BEGIN EXIT; END\n"
        "  FUNCTION F1 RETURNS INT AS DECLARE V INT; BEGIN V = 1; RETURN V; END\n"
        "END;\n"
        "CREATE PACKAGE PK2 AS BEGIN PROCEDURE Q; FUNCTION G RETURNS INT; END;\n"
        "select 1;";
    const V got = Split(text);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1], "CREATE PACKAGE PK2 AS BEGIN PROCEDURE Q; FUNCTION G RETURNS INT; END");
}

TEST(SplitterPsql, HeadersWithoutBodyEndAtTheirTerminator) {
    EXPECT_EQ(Split("ALTER TRIGGER T1 INACTIVE; select 1;"), (V{"ALTER TRIGGER T1 INACTIVE", "select 1"}));
    EXPECT_EQ(Split("CREATE FUNCTION F (A INT) RETURNS INT EXTERNAL NAME 'm!f' ENGINE UDR; select 1;").size(),
              2u);
}

TEST(SplitterPsql, UnderSetTermNoBodyRuleApplies) {
    EXPECT_EQ(Split("SET TERM ^;CREATE PROCEDURE P AS BEGIN END^select 1^").size(), 3u);
}

TEST(SplitterDamage, UnterminatedConstructsReportTheirStartLine) {
    EXPECT_EQ(Refusal("select 1;\nselect 'abc;\nselect 2;"), "Unterminated string @ 2");
    EXPECT_EQ(Refusal("select \"abc from t;"), "Unterminated quoted identifier @ 1");
    EXPECT_EQ(Refusal("\n\nselect q'{abc from t;"), "Unterminated q-string @ 3");
    EXPECT_EQ(Refusal("select 1;\n/* open\nselect 2;"), "Unterminated block comment @ 2");
}

TEST(SplitterDamage, TextAfterTheLastTerminator) {
    EXPECT_EQ(Refusal("select 1;\r\nselect 2"), "Expected end of statement, encountered EOF @ 2");
    EXPECT_EQ(Refusal("SET TERM ^;\nselect 1;"), "Expected end of statement, encountered EOF @ 2");
}

TEST(SplitterDamage, PsqlBodyWithoutItsEnd) {
    EXPECT_EQ(Refusal("select 1;\nCREATE PROCEDURE P AS BEGIN x = 1;\n"), "PSQL body without its END @ 2");
}

TEST(SplitterDamage, TextAfterExitIsNotRead) {
    EXPECT_EQ(Split("select 1; exit; select 'broken"), (V{"select 1", "exit"}));
}

TEST(PreflightInput, IncludedStatementsFollowTheInputCommand) {
    testing::TempDir dir;
    std::filesystem::create_directory(dir / "sub");
    testing::WriteBytes(dir / "a.sql", "select 'a';\nINPUT 'sub/b.sql';\nselect 'a2';\n");
    testing::WriteBytes(dir / "sub/b.sql", "\n\nselect 'b';\n");
    const std::string text = "select 0;\nIN '" + dir.path() + "/a.sql';\nselect 9;";
    const Script script = LoadScript(text);  // the statements are views into text
    V texts;
    for (const Statement& s : script.statements)
        texts.emplace_back(s.text);
    EXPECT_EQ(texts, (V{"select 0", "IN '" + dir.path() + "/a.sql'", "select 'a'", "INPUT 'sub/b.sql'",
                        "select 'b'", "select 'a2'", "select 9"}));
    EXPECT_EQ(script.statements[4].line, 3u);
    EXPECT_EQ(script.file_names[script.statements[4].file], dir.path() + "/sub/b.sql");
}

TEST(PreflightInput, SetTermInsideAnInputFileCarriesOn) {
    testing::TempDir dir;
    testing::WriteBytes(dir / "t.sql", "SET TERM ^ ;\n");
    EXPECT_EQ(Split("INPUT '" + dir.path() + "/t.sql'; select 1^").back(), "select 1");
}

TEST(PreflightInput, DamageInsideAnInputFileNamesTheFile) {
    testing::TempDir dir;
    testing::WriteBytes(dir / "bad.sql", "select 1;\nselect 'x;\n");
    try {
        LoadScript("INPUT '" + dir.path() + "/bad.sql';");
        FAIL() << "accepted";
    } catch (const PreflightFailure& f) {
        EXPECT_STREQ(f.what(), "Unterminated string");
        EXPECT_EQ(f.line, 2u);
        EXPECT_EQ(f.file, dir.path() + "/bad.sql");
    }
}

TEST(PreflightInput, CycleAndMissingFileAndDepthLimit) {
    testing::TempDir dir;
    testing::WriteBytes(dir / "a.sql", "INPUT 'b.sql';\n");
    testing::WriteBytes(dir / "b.sql", "INPUT 'a.sql';\n");
    EXPECT_NE(Refusal("INPUT '" + dir.path() + "/a.sql';").find("INPUT cycle"), std::string::npos);
    EXPECT_NE(Refusal("INPUT '" + dir.path() + "/none.sql';").find("Cannot read INPUT file"),
              std::string::npos);
    for (int i = 0; i < 20; ++i)
        testing::WriteBytes(dir / std::string("d").append(std::to_string(i)).append(".sql"),
                            std::string("INPUT 'd").append(std::to_string(i + 1)).append(".sql';"));
    testing::WriteBytes(dir / "d20.sql", "select 1;");
    EXPECT_NE(Refusal("INPUT '" + dir.path() + "/d0.sql';").find("nested deeper than 16"), std::string::npos);
}

}  // namespace
}  // namespace tallo::engine
