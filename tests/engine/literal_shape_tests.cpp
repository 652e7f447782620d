// The shape reader: which statements have a shape, the shape's text, and
// each literal's kind and value.
#include <gtest/gtest.h>

#include "engine/literal_shape.h"

namespace tallo::engine {
namespace {

using K = Literal::Kind;

// A literal in short: kind, number value and scale or string bytes and
// character set, or date and time parts, and whether it is compared.
std::string Describe(const Literal& l) {
    std::string s = l.compared ? "cmp " : "";
    switch (l.kind) {
        case K::Null:
            return s + "NULL";
        case K::Number:
            return s + std::to_string(l.value) + "e-" + std::to_string(l.scale);
        case K::String:
            return s + "[" + l.bytes + "]" + l.charset;
        case K::Date:
        case K::Time:
        case K::Timestamp: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%d-%d-%d %d:%d:%d.%d", l.year, l.month, l.day, l.hour, l.minute,
                          l.second, l.fraction);
            return s + buf;
        }
    }
    return s;
}

TEST(LiteralShape, ReadsTheShapeAndEveryLiteral) {
    struct Case {
        std::string sql, shape;
        std::vector<std::string> literals;
    };
    const Case cases[] = {
        {"INSERT INTO t (a, \"B c\") VALUES (1, 'x''y')",
         "INSERT INTO t (a, \"B c\") VALUES (?, ?)",
         {"1e-0", "[x'y]"}},
        {"insert into t values (-12.50, - 3, .5, 000123456789012345, NULL)",
         "insert into t values (?, ?, ?, ?, ?)",
         {"-1250e-2", "-3e-0", "5e-1", "123456789012345e-0", "NULL"}},
        {"INSERT INTO t VALUES (q'{a'}b}', Q'!x!', x'00fF', _win1251 'z', _UTF8 X'41', '')",
         "INSERT INTO t VALUES (?, ?, ?, ?, ?, ?)",
         {"[a'}b]", "[x]", std::string("[\0\xFF]OCTETS", 10), "[z]WIN1251", "[A]UTF8", "[]"}},
        {"INSERT INTO t VALUES (DATE '2024-02-29', TIME '7:05', TIME '23:59:59.5', "
         "TIMESTAMP '2024-1-2 03:04:05.0607', TIMESTAMP '2000-01-01')",
         "INSERT INTO t VALUES (?, ?, ?, ?, ?)",
         {"2024-2-29 0:0:0.0", "0-0-0 7:5:0.0", "0-0-0 23:59:59.5000", "2024-1-2 3:4:5.607",
          "2000-1-1 0:0:0.0"}},
        {"UPDATE t SET a = 'v', b = NULL WHERE id = 7 AND k = 'x'",
         "UPDATE t SET a = ?, b = ? WHERE id = ? AND k = ?",
         {"[v]", "NULL", "cmp 7e-0", "cmp [x]"}},
        {"DELETE FROM t WHERE id = 1", "DELETE FROM t WHERE id = ?", {"cmp 1e-0"}},
        {"DELETE FROM t", "DELETE FROM t", {}},
        {"EXECUTE PROCEDURE p 1, 'a'", "EXECUTE PROCEDURE p ?, ?", {"1e-0", "[a]"}},
        {"EXECUTE PROCEDURE p(1)", "EXECUTE PROCEDURE p(?)", {"1e-0"}},
        {"EXECUTE PROCEDURE p", "EXECUTE PROCEDURE p", {}},
    };
    for (const Case& c : cases) {
        LiteralShape shape;
        ASSERT_TRUE(ReadLiteralShape(c.sql, shape)) << c.sql;
        EXPECT_EQ(shape.text, c.shape);
        std::vector<std::string> got;
        for (const Literal& l : shape.literals)
            got.push_back(Describe(l));
        EXPECT_EQ(got, c.literals) << c.sql;
    }
}

const char* const kNoShape[] = {
    "SELECT 1 FROM rdb$database",
    "INSERT INTO t VALUES (1 + 2)",
    "INSERT INTO t VALUES ('a' || 'b')",
    "INSERT INTO t VALUES (1e3)",
    "INSERT INTO t VALUES (0x1F)",
    "INSERT INTO t VALUES (1234567890123456789)",  // more than 18 digits
    "INSERT INTO t VALUES (1.2.3)",
    "INSERT INTO t VALUES (CURRENT_DATE)",
    "INSERT INTO t VALUES (TRUE)",
    "INSERT INTO t VALUES (DATE 'TODAY')",
    "INSERT INTO t VALUES (DATE '2023-02-29')",
    "INSERT INTO t VALUES (TIME '24:00')",
    "INSERT INTO t VALUES (TIME '10:00:00.12345')",
    "INSERT INTO t VALUES (TIMESTAMP '2024-01-01T10:00')",
    "INSERT INTO t VALUES (x'ABC')",
    "INSERT INTO t VALUES (x'GG')",
    "INSERT INTO t VALUES (_ 'a')",
    "INSERT INTO t VALUES (1) RETURNING id",
    "INSERT INTO t SELECT * FROM u",
    "INSERT INTO t VALUES (1) -- note",
    "INSERT INTO t VALUES (/* c */ 1)",
    "INSERT INTO t VALUES ('unterminated)",
    "INSERT INTO t VALUES (1",
    "INSERT INTO t VALUES (1), (2)",
    "INSERT INTO \xD2 VALUES (1)",
    "UPDATE t SET a = a + 1 WHERE id = 1",
    "UPDATE t SET a = 1 WHERE id > 1",
    "UPDATE t SET a = 1 WHERE id = 1 OR id = 2",
    "UPDATE t x SET a = 1",
    "UPDATE OR INSERT INTO t VALUES (1)",
    "DELETE FROM t WHERE id IN (1, 2)",
    "DELETE FROM t WHERE id = 1 ROWS 1",
    "EXECUTE PROCEDURE p (1",
    "EXECUTE BLOCK AS BEGIN END",
    "MERGE INTO t USING u ON 1 = 1 WHEN MATCHED THEN DELETE",
};

TEST(LiteralShape, LeavesEverythingElseAsWritten) {
    for (const char* sql : kNoShape) {
        LiteralShape shape;
        EXPECT_FALSE(ReadLiteralShape(sql, shape)) << sql;
    }
}

// A shape read after another statement's (the last shape laid over the new
// text first) is the shape read alone, for every pair of statements.
TEST(LiteralShape, ReadsTheSameAfterAnyOtherStatement) {
    std::vector<std::string> sqls(std::begin(kNoShape), std::end(kNoShape));
    for (const char* sql : {
             "INSERT INTO t (a, \"B c\") VALUES (1, 'x''y')",
             "INSERT INTO t (a, \"B c\") VALUES (NULL, -2.5)",
             "INSERT INTO t (a, \"B c\") VALUES ( 1, 'x')",
             "INSERT INTO t (a, \"B c\") VALUES (1,  'x')",
             "INSERT INTO t (a, \"B c\") VALUES (1, 'x') ",
             "INSERT INTO t (a, \"B c\") VALUES (.5, q'{a, 1)}')",
             "INSERT INTO t (a, \"B c\") VALUES ('a, 1)', 3)",
             "INSERT INTO t (a, \"B c\") VALUES (1..5, 2)",
             "INSERT INTO t (a, \"B c\") VALUES (_win1251 'z', DATE '2024-02-29')",
             "INSERT INTO \"a?b\" VALUES (1, 2)",
             "INSERT INTO \"a?b\" VALUES (x'41', TIME '7:05')",
             "UPDATE t SET a = 'v', b = NULL WHERE id = 7 AND k = 'x'",
             "UPDATE t SET a = 1, b = 2 WHERE id = 'x' AND k = 8",
             "UPDATE t SET a = 1, b = 2 WHERE id = 'x' AND k = 8 OR 1 = 1",
             "EXECUTE PROCEDURE p'x'",
             "EXECUTE PROCEDURE p5",
             "EXECUTE PROCEDURE p 1, 'a'",
             "EXECUTE PROCEDURE p -1, 2",
             "EXECUTE PROCEDURE p(1)",
         })
        sqls.emplace_back(sql);
    auto describe = [](bool read, const LiteralShape& shape) {
        std::string s = read ? shape.text : "-";
        for (std::size_t i = 0; read && i < shape.literals.size(); ++i)
            s += " | " + Describe(shape.literals[i]) + " @" + std::to_string(shape.markers[i]);
        return s;
    };
    for (const std::string& first : sqls) {
        for (const std::string& second : sqls) {
            LiteralShape reused, alone;
            ReadLiteralShape(first, reused);
            const bool read = ReadLiteralShape(second, reused);
            EXPECT_EQ(describe(read, reused), describe(ReadLiteralShape(second, alone), alone))
                << first << "\n"
                << second;
        }
    }
}

}  // namespace
}  // namespace tallo::engine
