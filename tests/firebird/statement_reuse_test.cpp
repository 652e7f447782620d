// Statements run through prepared statements kept by shape must leave the
// same database and the same protocol as the same script run statement by
// statement: each script runs twice into fresh databases, reuse on and off.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>

#include "tests/firebird/fb_test_support.h"

namespace tallo::testing {

int RunEngineProtocol(const std::string& text, std::vector<std::string>& protocol);
std::vector<std::string> Dump(const std::string& database);
std::string EmployeeScript(const std::string& database);

namespace {

struct Outcome {
    std::vector<std::string> protocol;
    std::vector<std::string> database;
};

Outcome RunOnce(const std::string& body, const std::string& db, bool reuse) {
    ::setenv("TALLO_ENGINE_STATEMENT_REUSE", reuse ? "1" : "0", 1);
    Outcome o;
    std::string script = body;
    const std::string create = "$CREATE";
    if (std::size_t at = script.find(create); at != std::string::npos) {
        script.replace(at, create.size(),
                       "SET NAMES WIN1251; CREATE DATABASE '" + db + "' USER 'SYSDBA' PASSWORD 'masterkey';");
    }
    // What follows $REPEAT runs twice: the second time every shape has been
    // seen before and its statement is kept.
    const std::string repeat = "$REPEAT\n";
    if (std::size_t at = script.find(repeat); at != std::string::npos) {
        const std::string tail = script.substr(at + repeat.size());
        script = script.substr(0, at) + tail + tail;
    }
    for (std::size_t at; (at = script.find("$DB")) != std::string::npos;)
        script.replace(at, 3, db);
    RunEngineProtocol(script, o.protocol);
    ::unsetenv("TALLO_ENGINE_STATEMENT_REUSE");
    static const std::regex elapsed("elapsed time: [0-9.]+ s");
    for (auto& line : o.protocol) {
        line = std::regex_replace(line, elapsed, "elapsed time: - s");
        for (std::size_t at; (at = line.find(db)) != std::string::npos;)
            line.replace(at, db.size(), "$DB");
    }
    o.database = Dump(db);
    return o;
}

void ExpectSameBothWays(const std::string& body) {
    TempDir dir;
    const Outcome on = RunOnce(body, dir / "on.fdb", true);
    const Outcome off = RunOnce(body, dir / "off.fdb", false);
    ASSERT_EQ(on.protocol.size(), off.protocol.size());
    for (std::size_t i = 0; i < on.protocol.size(); ++i)
        EXPECT_EQ(on.protocol[i], off.protocol[i]) << "protocol entry " << i;
    ASSERT_EQ(on.database.size(), off.database.size());
    for (std::size_t i = 0; i < on.database.size(); ++i)
        EXPECT_EQ(on.database[i], off.database[i]) << "database line " << i;
}

// Each script makes its database first ($CREATE); $DB names it again;
// $REPEAT starts the part run twice.
struct Case {
    const char* name;
    const char* script;
};

const Case kCases[] = {
    {"EveryLiteralKind",
     "$CREATE\n"
     "CREATE TABLE t (n INTEGER, s SMALLINT, b BIGINT, m NUMERIC(12,2), m4 NUMERIC(18,4), d DOUBLE "
     "PRECISION, "
     "f FLOAT, c CHAR(5), v VARCHAR(10), u VARCHAR(10) CHARACTER SET UTF8, o VARCHAR(8) CHARACTER SET "
     "OCTETS, "
     "dt DATE, tm TIME, ts TIMESTAMP, vv VARCHAR(30), bl BLOB SUB_TYPE TEXT, bo BOOLEAN);\n$REPEAT\n"
     "INSERT INTO t (n, s, b, m, m4, d, f, c, v) VALUES (1, -2, 9000000000, 12.345, -0.00005, 12.5, 0.1, "
     "'ab', 'x''y');\n"
     "INSERT INTO t (n, s, b, m, m4, d, f, c, v) VALUES (2, - 3, -9000000000, 12.355, 1.23456, -0.5, 3, "
     "'abcde', q'{a'b}');\n"
     "INSERT INTO t (n, m, d, v, vv) VALUES ('3', '7.125', '2.5', 12.50, 00012.5000);\n"
     "INSERT INTO t (n, m, v, vv) VALUES (4.5, 2.5, -0.05, DATE '2024-02-29');\n"
     "INSERT INTO t (n, vv, u, o) VALUES (5, TIME '1:02', _UTF8 '\xD0\xB6', x'00FF41');\n"
     "INSERT INTO t (n, vv, u, o) VALUES (6, TIMESTAMP '2024-1-5 23:59:59.5', _win1251 '\xE6', "
     "_octets 'ab');\n"
     "INSERT INTO t (n, dt, tm, ts) VALUES (7, DATE '0001-01-01', TIME '10:11:12.1234', "
     "TIMESTAMP '9999-12-31');\n"
     "INSERT INTO t (n, dt, tm, ts) VALUES (8, '2024-03-01', '10:00', '2024-03-01 10:00:00');\n"
     "INSERT INTO t (n, dt, vv, v) VALUES (9, DATE '2024-02-30', 1e3, 'a');\n"
     "INSERT INTO t (n, bl, bo, c) VALUES (10, 'text into a blob', TRUE, NULL);\n"
     "INSERT INTO t (n, v, c) VALUES (11, '  x  ', 'ab   ');\n"
     "INSERT INTO t VALUES (12, 1, 1, 1, 1, 1, 1, 'a', 'b', 'c', 'd', DATE '2020-01-01', TIME '00:00', "
     "TIMESTAMP '2020-01-01 00:00', 'v', 'w', FALSE);\n"
     "INSERT INTO t (n, m) VALUES (13, 999999999999999999);\n"
     "INSERT INTO t (n, vv) VALUES (14, 'abc' || 'def');\n"
     "INSERT INTO t (n, vv) VALUES (15, /* a comment */ 'x');\n"
     "INSERT INTO t (n, vv) VALUES (16, 0x1F);\n"
     "COMMIT;\n"},
    {"FailingRows",
     "$CREATE\n"
     "CREATE TABLE p (id INTEGER NOT NULL PRIMARY KEY, s SMALLINT, v VARCHAR(5), c CHAR(3), "
     "m NUMERIC(4,2) CHECK (m >= 0), d DATE);\n"
     "CREATE TABLE k (id INTEGER NOT NULL PRIMARY KEY, p INTEGER REFERENCES p(id));\n"
     "CREATE GENERATOR g;\n"
     "CREATE EXCEPTION too_big 'value too big';\n"
     "SET TERM ^;\n"
     "CREATE TRIGGER p_bi FOR p BEFORE INSERT AS BEGIN NEW.s = COALESCE(NEW.s, GEN_ID(g, 1)); "
     "IF (NEW.s > 100) THEN EXCEPTION too_big; END^\n"
     "SET TERM ;^\n$REPEAT\n"
     "INSERT INTO p (id, v) VALUES (1, 'ok');\n"
     "INSERT INTO p (id, v) VALUES (1, 'dup');\n"
     "INSERT INTO p (id, v) VALUES ('abc', 'x');\n"
     "INSERT INTO p (id, v) VALUES (2, 'too long');\n"
     "INSERT INTO p (id, v) VALUES (3, 'ok   ');\n"
     "INSERT INTO p (id, c) VALUES (4, 'abcd');\n"
     "INSERT INTO p (id, s) VALUES (5, 100000);\n"
     "INSERT INTO p (id, s) VALUES (6, 101);\n"
     "INSERT INTO p (id, m) VALUES (7, -1);\n"
     "INSERT INTO p (id, m) VALUES (8, 100);\n"
     "INSERT INTO p (id, d) VALUES (9, 'not a date');\n"
     "INSERT INTO p (id, v) VALUES (NULL, 'x');\n"
     "INSERT INTO p (id, v, s) VALUES (10, 'ok', NULL);\n"
     "INSERT INTO k (id, p) VALUES (1, 99);\n"
     "INSERT INTO k (id, p) VALUES (2, 1);\n"
     "INSERT INTO nowhere (id) VALUES (1);\n"
     "INSERT INTO p (nocolumn) VALUES (1);\n"
     "INSERT INTO p (id) VALUES (11, 12);\n"
     "UPDATE p SET v = 'too long value' WHERE id = 1;\n"
     "DELETE FROM p WHERE id = 1;\n"
     "COMMIT;\n"},
    {"UpdatesAndDeletesByKey",
     "$CREATE\n"
     "CREATE TABLE u (id INTEGER NOT NULL PRIMARY KEY, code VARCHAR(4), ch CHAR(4), m NUMERIC(12,2), "
     "d DATE, ts TIMESTAMP, x INTEGER, x1 INTEGER, x2 INTEGER, x3 INTEGER, x4 INTEGER, x5 INTEGER, "
     "x6 INTEGER, x7 INTEGER, x8 INTEGER, x9 INTEGER, x10 INTEGER, x11 INTEGER, x12 INTEGER, x13 INTEGER);\n"
     "INSERT INTO u (id, code, ch, m, d, ts, x) VALUES (1, '05', 'ab', 12.34, DATE '2024-01-01', TIMESTAMP "
     "'2024-01-01 10:00', 0);\n"
     "INSERT INTO u (id, code, ch, m, d, ts, x) VALUES (2, '5', 'abc', 12.35, DATE '2024-01-02', TIMESTAMP "
     "'2024-01-02 10:00', 0);\n"
     "INSERT INTO u (id, code, ch, m, d, ts, x) VALUES (3, 'x', 'x', 0, NULL, NULL, 0);\n"
     "INSERT INTO u (id, code, ch, m, d, ts, x) VALUES (6, 'y', 'y', 0, NULL, NULL, 0);\n$REPEAT\n"
     "UPDATE u SET x1 = 1 WHERE code = 5;\n"
     "UPDATE u SET x2 = 2 WHERE m = 12.345;\n"
     "UPDATE u SET x3 = 3 WHERE m = 12.35;\n"
     "UPDATE u SET x4 = 4 WHERE ch = 'ab';\n"
     "UPDATE u SET x5 = 5 WHERE code = 'abcdef';\n"
     "UPDATE u SET x6 = 6 WHERE id = '5.5';\n"
     "UPDATE u SET x7 = 7 WHERE id = 2.0;\n"
     "UPDATE u SET x8 = 8 WHERE id = 1 AND code = '05';\n"
     "UPDATE u SET x9 = 9 WHERE d = DATE '2024-01-02';\n"
     "UPDATE u SET x10 = 10 WHERE d = '2024-01-01';\n"
     "UPDATE u SET x11 = 11 WHERE ts = DATE '2024-01-01';\n"
     "UPDATE u SET x12 = 12 WHERE id = 99999999999;\n"
     "UPDATE u SET x13 = 13 WHERE code = NULL;\n"
     "UPDATE u SET x = x + 1 WHERE id = 3;\n"
     "UPDATE u SET code = 'zz', m = 1.005 WHERE id = 3;\n"
     "SET COUNT ON;\n"
     "UPDATE u SET code = 'q' WHERE id = 6;\n"
     "DELETE FROM u WHERE id = 6;\n"
     "DELETE FROM u WHERE id = 6;\n"
     "SET COUNT OFF;\n"
     "DELETE FROM u WHERE ch = 'x';\n"
     "COMMIT;\n"},
    {"Utf8Connection",
     "SET NAMES UTF8; CREATE DATABASE '$DB' USER 'SYSDBA' PASSWORD 'masterkey';\n"
     "CREATE TABLE w (id INTEGER, v VARCHAR(3) CHARACTER SET UTF8, c CHAR(3) CHARACTER SET UTF8, "
     "x VARCHAR(3) CHARACTER SET WIN1251, o VARCHAR(4) CHARACTER SET OCTETS);\n$REPEAT\n"
     "INSERT INTO w (id, v) VALUES (1, 'abcd');\n"
     "INSERT INTO w (id, v) VALUES (2, '\xD0\xB6\xD0\xB6\xD0\xB6');\n"
     "INSERT INTO w (id, v) VALUES (3, '\xD0\xB6\xD0\xB6\xD0\xB6\xD0\xB6');\n"
     "INSERT INTO w (id, v) VALUES (4, 'ab  ');\n"
     "INSERT INTO w (id, v) VALUES (5, _win1251 '\xC6');\n"
     "INSERT INTO w (id, c) VALUES (7, 'abcd');\n"
     "INSERT INTO w (id, x) VALUES (8, '\xD0\xB6\xD0\xB6');\n"
     "INSERT INTO w (id, x) VALUES (9, '\xC3\xA4');\n"
     "INSERT INTO w (id, o) VALUES (10, '\xD0\xB6\xD0\xB6\xD0\xB6');\n"
     "UPDATE w SET x = 'a' WHERE v = '\xD0\xB6\xD0\xB6\xD0\xB6';\n"
     "UPDATE w SET x = 'b' WHERE v = 'abcd';\n"
     "UPDATE w SET x = 'c' WHERE c = 'ab';\n"
     "COMMIT;\n"},
    {"ProceduresDdlAndTransactions",
     "$CREATE\n"
     "CREATE TABLE a (id INTEGER, v VARCHAR(10));\n"
     "SET TERM ^;\n"
     "CREATE PROCEDURE put (id INTEGER, v VARCHAR(10)) AS BEGIN INSERT INTO a VALUES (:id, :v); END^\n"
     "CREATE PROCEDURE twice (n INTEGER) RETURNS (r INTEGER) AS BEGIN r = n * 2; END^\n"
     "SET TERM ;^\n"
     "EXECUTE PROCEDURE put (1, 'one');\n"
     "EXECUTE PROCEDURE put 2, 'two';\n"
     "EXECUTE PROCEDURE put (3, 12.5);\n"
     "EXECUTE PROCEDURE twice (4);\n"
     "EXECUTE PROCEDURE twice (5);\n"
     "INSERT INTO a VALUES (10, 'x');\n"
     "ROLLBACK;\n"
     "INSERT INTO a VALUES (11, 'y');\n"
     "COMMIT;\n"
     "ALTER TABLE a ADD w INTEGER;\n"
     "INSERT INTO a VALUES (12, 'z', 1);\n"
     "INSERT INTO a (id, v) VALUES (13, 'z');\n"
     "DROP PROCEDURE put;\n"
     "DROP TABLE a;\n"
     "CREATE TABLE a (id VARCHAR(5));\n"
     "INSERT INTO a (id) VALUES (14);\n"
     "SET AUTODDL OFF;\n"
     "CREATE TABLE b (id INTEGER);\n"
     "INSERT INTO b (id) VALUES (1);\n"
     "COMMIT;\n"
     "INSERT INTO b (id) VALUES (2);\n"
     "CONNECT '$DB' USER 'SYSDBA' PASSWORD 'masterkey';\n"
     "INSERT INTO b (id) VALUES (3);\n"
     "INSERT INTO b (id) VALUES (4);\n"
     "SET TRANSACTION READ ONLY;\n"
     "INSERT INTO b (id) VALUES (7);\n"
     "COMMIT;\n"
     "SET SQL DIALECT 1;\n"
     "CONNECT '$DB' USER 'SYSDBA' PASSWORD 'masterkey';\n"
     "INSERT INTO b (id) VALUES (5.5);\n"
     "INSERT INTO b (id) VALUES (6.5);\n"
     "COMMIT;\n"},
};

class StatementReuse : public ::testing::TestWithParam<Case> {};

TEST_P(StatementReuse, SameOutcomeWithAndWithoutReuse) {
    ExpectSameBothWays(GetParam().script);
}

INSTANTIATE_TEST_SUITE_P(Scripts, StatementReuse, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

TEST(StatementReuseEmployee, SameOutcomeWithAndWithoutReuse) {
    ExpectSameBothWays(EmployeeScript("$DB"));
}

}  // namespace
}  // namespace tallo::testing
