// Whole scripts through the built engine library, loaded with dlopen as the
// tool loads it, on real embedded databases (and the loopback server).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "ibescript.h"
#include "tests/firebird/fb_test_support.h"
#include "tests/support/test_server.h"

namespace tallo::testing {
namespace {

struct Reports {
    std::vector<std::pair<std::string, std::string>> errors;
    std::vector<std::string> statements;
    std::function<void(const std::string&)> on_statement;
    std::function<void(const std::string&)> on_status;
};
Reports* g_reports = nullptr;

std::int32_t OnError(const char* first, const char* second) {
    g_reports->errors.emplace_back(first ? first : "", second ? second : "");
    return 0;
}
std::int32_t OnStatus(const char*, const char* second) {
    if (g_reports->on_status)
        g_reports->on_status(second ? second : "");
    return 0;
}
std::int32_t OnStatement(const char* first, const char*) {
    g_reports->statements.emplace_back(first ? first : "");
    if (g_reports->on_statement)
        g_reports->on_statement(g_reports->statements.back());
    return 0;
}

class Engine {
  public:
    Engine() {
        handle_ = ::dlopen(TALLO_ENGINE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr)
            throw std::runtime_error(::dlerror());
        entry_ = reinterpret_cast<TalloExecScriptTextFn>(::dlsym(handle_, TALLO_ENGINE_ENTRY_NAME));
        cancel_ = reinterpret_cast<TalloCancelScriptTextFn>(::dlsym(handle_, TALLO_ENGINE_CANCEL_NAME));
        if (entry_ == nullptr || cancel_ == nullptr)
            throw std::runtime_error("no entry");
    }
    void Cancel() { cancel_(); }
    // Firebird's engine stays loaded for the process: never dlclose'd.
    int Run(const std::string& text, Reports& reports) {
        g_reports = &reports;
        int n = entry_(text.c_str(), OnError, OnStatus, OnStatement);
        g_reports = nullptr;
        return n;
    }

  private:
    void* handle_;
    TalloExecScriptTextFn entry_;
    TalloCancelScriptTextFn cancel_;
};

Engine& TheEngine() {
    static Engine engine;
    return engine;
}

class ScriptRun : public ::testing::Test {
  protected:
    // The tool's connect header in front of a script, on a database that
    // CREATE DATABASE made first.
    std::string Header() const {
        return "SET NAMES WIN1251; CONNECT '" + db + "' USER 'SYSDBA' PASSWORD 'masterkey'; ";
    }
    void CreateDb() {
        ASSERT_EQ(Run("SET NAMES WIN1251; CREATE DATABASE '" + db + "' USER 'SYSDBA' PASSWORD 'masterkey';"),
                  0)
            << FirstError();
    }
    int Run(const std::string& text) {
        reports = Reports();
        return TheEngine().Run(text, reports);
    }
    std::string FirstError() const {
        return reports.errors.empty() ? "" : reports.errors[0].first + " @ " + reports.errors[0].second;
    }
    std::string Out() const { return ReadBytes(out); }
    // The OUTPUT command that sends the following SELECT's rows to out.
    std::string OutputTo(const std::string& delimiter) const {
        std::string command = "OUTPUT '";
        return command.append(out).append("' DELIMITER ").append(delimiter).append(";\n");
    }
    // The script runs without errors and its OUTPUT writes rows to out.
    void ExpectCleanRunWritingRows(const std::string& script, const std::string& rows) {
        EXPECT_EQ(Run(script), 0) << FirstError();
        EXPECT_EQ(Out(), rows);
    }
    void StopMidStatement();
    // The run reported exactly one error, whose text holds part.
    void ExpectOneErrorHolding(const std::string& part) const {
        ASSERT_EQ(reports.errors.size(), 1u);
        EXPECT_NE(reports.errors[0].first.find(part), std::string::npos) << reports.errors[0].first;
    }

    TempDir dir;
    std::string db = dir / "script.fdb";
    std::string out = dir / "rows.out";
    Reports reports;
};

TEST_F(ScriptRun, CreatesADatabaseThenDefinesAndFillsIt) {
    std::string script = "SET NAMES WIN1251;\r\nCREATE DATABASE '" + db +
                         "' USER 'SYSDBA' PASSWORD 'masterkey';\r\n"
                         "CREATE TABLE t (a INTEGER, b VARCHAR(10));\r\n"
                         "INSERT INTO t VALUES (1, 'one');\r\nINSERT INTO t VALUES (2, NULL);\r\n" +
                         OutputTo("#9") + "SELECT a, b FROM t ORDER BY a;\r\nOUTPUT;\r\n";
    ExpectCleanRunWritingRows(script, "1\tone\r\n2\t\r\n");
}

TEST_F(ScriptRun, PsqlWithAndWithoutSetTerm) {
    CreateDb();
    std::string script =
        Header() +
        "CREATE PROCEDURE twice (n INT) RETURNS (r INT) AS\nBEGIN\n  r = n * 2;\n  IF (r > 10) THEN\n"
        "  BEGIN\n    r = 10;\n  END\n  SUSPEND;\nEND;\n"
        "SET TERM ^ ;\nCREATE PROCEDURE thrice (n INT) RETURNS (r INT) AS\nBEGIN\n  r = n * 3;\n  "
        "SUSPEND;\nEND^\n"
        "SET TERM ; ^\n" +
        OutputTo("','") +
        "SELECT (SELECT r FROM twice(3)), (SELECT r FROM twice(9)), (SELECT r FROM thrice(3)) "
        "FROM rdb$database;\n";
    ExpectCleanRunWritingRows(script, "6,10,9\r\n");
}

TEST_F(ScriptRun, Windows1251BytesGoThroughUnchanged) {
    CreateDb();
    // "Съешь же ещё этих мягких французских булок" in Windows-1251.
    std::string text =
        "\xD1\xFA\xE5\xF8\xFC \xE6\xE5 \xE5\xF9\xB8 \xFD\xF2\xE8\xF5 \xEC\xFF\xE3\xEA\xE8\xF5 "
        "\xF4\xF0\xE0\xED\xF6\xF3\xE7\xF1\xEA\xE8\xF5 \xE1\xF3\xEB\xEE\xEA";
    std::string script = Header() + "CREATE TABLE w (s VARCHAR(100) CHARACTER SET WIN1251);\n" +
                         "INSERT INTO w VALUES ('" + text + "');\n" + OutputTo("#9") + "SELECT s FROM w;\n";
    ExpectCleanRunWritingRows(script, text + "\r\n");
}

TEST_F(ScriptRun, EachTypeInTheOutputFile) {
    CreateDb();
    std::string script =
        Header() +
        "CREATE TABLE v (i INTEGER, n NUMERIC(10,2), d DOUBLE PRECISION, c CHAR(5), dt DATE, tm TIME, "
        "ts TIMESTAMP, b BOOLEAN, tb BLOB SUB_TYPE TEXT, bb BLOB SUB_TYPE BINARY, z INTEGER);\n"
        "INSERT INTO v VALUES (42, 12.5, 0.25, 'ab', '2024-01-31', '08:09:10.5', '2024-01-31 08:09:10', "
        "TRUE, "
        "'memo', x'0102', NULL);\n" +
        OutputTo("'|'") + "SELECT * FROM v;\nOUTPUT;\n";
    ExpectCleanRunWritingRows(
        script, "42|12.50|0.25|ab|2024-01-31|08:09:10.5000|2024-01-31 08:09:10.0000|TRUE|memo|0102|\r\n");
}

TEST_F(ScriptRun, ErrorsAreReportedAndTheRunGoesOn) {
    CreateDb();
    std::string script = Header() +
                         "CREATE TABLE t (a INT PRIMARY KEY);\n"
                         "CREATE EXCEPTION e_stop 'stop';\n"
                         "SELEC 1 FROM rdb$database;\n"
                         "SELECT * FROM no_such_table;\n"
                         "INSERT INTO t VALUES (1);\nINSERT INTO t VALUES (1);\n"
                         "EXECUTE BLOCK AS BEGIN EXCEPTION e_stop 'MSG: call the office'; END;\n"
                         "INSERT INTO t VALUES (2);\n" +
                         OutputTo("#9") + "SELECT COUNT(*) FROM t;\n";
    EXPECT_EQ(Run(script), 4);
    ASSERT_EQ(reports.errors.size(), 4u);
    EXPECT_NE(reports.errors[0].first.find("Token unknown"), std::string::npos);
    EXPECT_NE(reports.errors[0].second.find("42000"), std::string::npos) << reports.errors[0].second;
    EXPECT_NE(reports.errors[1].first.find("Table unknown"), std::string::npos);
    EXPECT_NE(reports.errors[2].first.find("violation of PRIMARY or UNIQUE KEY"), std::string::npos);
    EXPECT_EQ(reports.errors[3].first, "MSG: call the office");
    EXPECT_EQ(Out(), "2\r\n");
}

TEST_F(ScriptRun, BailStopsAtTheFirstErrorAndRollsBack) {
    CreateDb();
    ASSERT_EQ(Run(Header() + "CREATE TABLE t (a INT);"), 0) << FirstError();
    EXPECT_EQ(Run(Header() + "SET BAIL ON;\nINSERT INTO t VALUES (1);\nINSERT INTO nowhere VALUES (1);\n"
                             "INSERT INTO t VALUES (2);\n"),
              1);
    ASSERT_EQ(Run(Header() + OutputTo("#9") + "SELECT COUNT(*) FROM t;\n"), 0) << FirstError();
    EXPECT_EQ(Out(), "0\r\n");
}

TEST_F(ScriptRun, AutoddlOffLeavesDdlUncommitted) {
    CreateDb();
    std::string script = Header() +
                         "SET AUTODDL OFF;\nCREATE TABLE t (a INT);\nINSERT INTO t VALUES (1);\n"
                         "COMMIT;\nINSERT INTO t VALUES (2);\n" +
                         OutputTo("#9") + "SELECT a FROM t;\n";
    EXPECT_EQ(Run(script), 1);
    ExpectOneErrorHolding("Table unknown");
    EXPECT_EQ(Out(), "2\r\n");
}

// A DDL statement whose AUTODDL commit fails is one error; the DML around it
// is kept, in isql's way.
TEST_F(ScriptRun, FailedDdlCommitLeavesTheMainTransactionAlone) {
    CreateDb();
    std::string script =
        Header() +
        "create table test(key integer not null primary key, ref integer);\n"
        "create table other(id integer);\n"
        "insert into test(key,ref) values(1,-1);\ncommit;\n"
        "alter table test add constraint fk_key_ref foreign key (ref) references test(key);\n"
        "insert into other values (42);\ninsert into other values (43);\ncommit;\n";
    EXPECT_EQ(Run(script), 1);
    ExpectOneErrorHolding("FOREIGN KEY");
    ASSERT_EQ(Run(Header() + OutputTo("#9") + "SELECT id FROM other ORDER BY id;\n"), 0) << FirstError();
    EXPECT_EQ(Out(), "42\r\n43\r\n");
}

// SET COUNT, ROWCOUNT, PLAN and PLANONLY: what the protocol shows after each
// statement, in isql's words, and PLANONLY executes nothing.
TEST_F(ScriptRun, SetOptionsShowCountsAndPlansAndPlanOnlyRunsNothing) {
    CreateDb();
    ASSERT_EQ(Run(Header() + "create table t (a int); create index ix on t (a);"
                             "insert into t values (1); insert into t values (2); insert into t values (3);"),
              0)
        << FirstError();
    EXPECT_EQ(
        Run(Header() + "set count on; insert into t values (4); update t set a = a where a > 2;"
                       "set rowcount 2; select a from t where a < 4 order by a; set rowcount 0;"
                       "execute block as begin end; set count off;"
                       "set plan on; select a from t where a = 1; set plan off;"
                       "set planonly on; delete from t; create table u (b int); insert into t values (9);"
                       "commit; set planonly off; select count(*) from t; set plan off;"
                       "set list on; select count(*) c from t;"),
        0)
        << FirstError();
    std::vector<std::string> shown;
    for (const std::string& s : reports.statements) {  // all but the statements and the summary
        if (!std::islower(static_cast<unsigned char>(s[0])) && s.rfind("SET NAMES", 0) != 0 &&
            s.rfind("CONNECT", 0) != 0 && s.rfind("Statements executed", 0) != 0)
            shown.push_back(s);
    }
    EXPECT_EQ(shown,
              (std::vector<std::string>{"Records affected: 1", "Records affected: 2", "A\r\n=\r\n1\r\n2",
                                        "Records affected: 2", "PLAN (T INDEX (IX))", "A\r\n=\r\n1",
                                        "PLAN (T NATURAL)", "PLAN (T NATURAL)", "COUNT\r\n=====\r\n    4",
                                        "C                               4"}));
}

TEST_F(ScriptRun, InputRunsAnotherFileRelativeToTheScript) {
    CreateDb();
    std::filesystem::create_directory(dir / "parts");
    WriteBytes(dir / "parts/inner.sql", "INSERT INTO t VALUES (7);\r\n");
    std::string main_script = "CREATE TABLE t (a INT);\nINPUT 'parts/inner.sql';\n";
    WriteBytes(dir / "main.sql", main_script.append(OutputTo("#9")).append("SELECT a FROM t;\n"));
    ExpectCleanRunWritingRows(Header() + "INPUT '" + dir / "main.sql" + "';\n", "7\r\n");
}

TEST_F(ScriptRun, Windows1251FileNamesReachTheFileSystemInUtf8) {
    // Firebird converts file names to the locale's character set, as the
    // tool and the runner set it from the environment (UTF-8 here).
    const std::string old_locale = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    // A folder "Базы" as the file system names it (UTF-8), written in the
    // script in Windows-1251 as an operator's settings and scripts hold it.
    const std::string folder_utf8 = dir / "\xD0\x91\xD0\xB0\xD0\xB7\xD1\x8B";
    const std::string folder_1251 = dir / "\xC1\xE0\xE7\xFB";
    std::filesystem::create_directory(folder_utf8);
    WriteBytes(folder_utf8 + "/\xD1\x87\xD0\xB0\xD1\x81\xD1\x82\xD1\x8C.sql", "INSERT INTO t VALUES (5);\n");
    const std::string db_1251 = folder_1251 + "/demo.fdb";
    std::string script = "SET NAMES WIN1251; CREATE DATABASE '" + db_1251 +
                         "' USER 'SYSDBA' PASSWORD 'masterkey';\nCREATE TABLE t (a INT);\n"
                         "CONNECT '" +
                         db_1251 +
                         "' USER 'SYSDBA' PASSWORD 'masterkey';\n"
                         "INPUT '" +
                         folder_1251 +
                         "/\xF7\xE0\xF1\xF2\xFC.sql';\n"
                         "OUTPUT '" +
                         folder_1251 +
                         "/\xE2\xFB\xE2\xEE\xE4.txt' DELIMITER #9;\n"
                         "SELECT a FROM t;\n";
    EXPECT_EQ(Run(script), 0) << FirstError();
    EXPECT_TRUE(std::filesystem::exists(folder_utf8 + "/demo.fdb"));
    EXPECT_EQ(ReadBytes(folder_utf8 + "/\xD0\xB2\xD1\x8B\xD0\xB2\xD0\xBE\xD0\xB4.txt"), "5\r\n");
    // The same database under its UTF-8 name, as a terminal would type it.
    EXPECT_EQ(Run("SET NAMES WIN1251; CONNECT '" + folder_utf8 +
                  "/demo.fdb' USER 'SYSDBA' PASSWORD 'masterkey'; SELECT a FROM t;"),
              0)
        << FirstError();
    std::setlocale(LC_ALL, old_locale.c_str());
}

TEST_F(ScriptRun, TheToolsVersionQuery) {
    CreateDb();
    ASSERT_EQ(Run(Header() + "CREATE TABLE db_version (Version VARCHAR(20));\n"
                             "INSERT INTO db_version VALUES ('2.14.1');\n"),
              0)
        << FirstError();
    {
        CurrentFolder in_dir(dir.path());
        EXPECT_EQ(
            Run(Header() + "output 'DBVersion.out' delimeter #9; select Version from db_version output; "
                           "COMMIT WORK;"),
            0)
            << FirstError();
    }
    EXPECT_EQ(ReadBytes(dir / "DBVersion.out"), "2.14.1\r\n");
}

using Clock = std::chrono::steady_clock;

// A table with committed rows, then a script that inserts more and runs a
// minute's work, stopped as the status line shows it: the stop takes effect
// within a second, names the statement running (for statements sent together
// as one block, the block's first), and only the committed rows stay. The
// minute is a statement of its own, or the second row of a block (its shape
// seen twice before, each alone): run one by one, the block's first row would
// have been done and the stop would name the second.
void ScriptRun::StopMidStatement() {
    CreateDb();
    ASSERT_EQ(
        Run(Header() +
            "CREATE FUNCTION a_minute RETURNS INT AS DECLARE t0 TIMESTAMP; BEGIN\n"
            "  t0 = CAST('NOW' AS TIMESTAMP);\n"
            "  WHILE (DATEDIFF(SECOND FROM t0 TO CAST('NOW' AS TIMESTAMP)) < 60) DO BEGIN END\n"
            "  RETURN 1;\nEND;\n"
            "CREATE TABLE t (a INT CHECK (a <> 5 OR a_minute() = 1));\nINSERT INTO t VALUES (1);\nCOMMIT;\n"),
        0)
        << FirstError();
    const struct {
        const char* script;
        const char* running;  // the status line's start while it runs
        const char* stopped;
        const char* last_shown;  // the last statement the protocol shows
        const char* rows;
    } cases[] = {
        {"INSERT INTO t VALUES (2);\nEXECUTE BLOCK AS BEGIN IF (a_minute() = 1) THEN EXIT; END;\n"
         "INSERT INTO t VALUES (3);\nCOMMIT;\n",
         "Statement 4 of 6, line 2: ", "statement 4, line 2",
         "EXECUTE BLOCK AS BEGIN IF (a_minute() = 1) THEN EXIT; END", "1\r\n"},
        {"INSERT INTO t VALUES (2);\nCOMMIT;\nINSERT INTO t VALUES (3);\nCOMMIT;\nINSERT INTO t VALUES (4);\n"
         "INSERT INTO t VALUES (5);\nINSERT INTO t VALUES (6);\nCOMMIT;\n",
         "Statement 7 of 10, line 5: ", "statement 7, line 5", "INSERT INTO t VALUES (4)", "1\r\n2\r\n3\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        ASSERT_EQ(Run(Header() + "DELETE FROM t WHERE a > 1;\n"), 0) << FirstError();
        reports = Reports();
        Clock::time_point asked{};
        reports.on_status = [&](const std::string& text) {
            if (asked == Clock::time_point{} && text.rfind(c.running, 0) == 0) {
                asked = Clock::now();
                TheEngine().Cancel();
            }
        };
        EXPECT_EQ(TheEngine().Run(Header() + c.script, reports), 1);
        ASSERT_NE(asked, Clock::time_point{}) << "the status line never showed the long statement";
        EXPECT_LT(Clock::now() - asked, std::chrono::seconds(1));
        ExpectOneErrorHolding(std::string("The operator stopped the script at ") + c.stopped);
        ASSERT_GE(reports.statements.size(), 2u);
        EXPECT_EQ(reports.statements.end()[-2], c.last_shown);  // before the summary
        ExpectCleanRunWritingRows(Header() + OutputTo("#9") + "SELECT a FROM t ORDER BY a;\n", c.rows);
    }
}

TEST_F(ScriptRun, StopMidStatementKeepsOnlyWhatWasCommitted) {
    StopMidStatement();
}

TEST_F(ScriptRun, StopMidStatementOnTheServerKeepsOnlyWhatWasCommitted) {
    ASSERT_NO_THROW(StartTestServer());
    db = TestServerDatabase(dir / "server.fdb");
    StopMidStatement();
}

// Firebird 3.0.11 itself dies on this statement (isql-fb with it); never on
// the shared test server.
TEST_F(ScriptRun, FirebirdCrashIsOneErrorAfterEveryLineBeforeIt) {
    CreateDb();
    ASSERT_EQ(Run(Header() + "CREATE TABLE t (a INT);\n"), 0) << FirstError();
    EXPECT_EQ(
        Run(Header() + "INSERT INTO t VALUES (1);\nCOMMIT;\nINSERT INTO t VALUES (2);\n"
                       "SELECT CAST(RDB$DB_KEY AS INTEGER) FROM RDB$DATABASE;\nINSERT INTO t VALUES (3);\n"),
        1);
    ASSERT_EQ(reports.errors.size(), 1u);
    EXPECT_EQ(reports.errors[0].first,
              "Firebird stopped unexpectedly (signal 11) while running statement 6 at line 4");
    ASSERT_GE(reports.statements.size(), 3u);
    EXPECT_EQ(reports.statements.end()[-2], "INSERT INTO t VALUES (2)");
    EXPECT_EQ(reports.statements.back(), "SELECT CAST(RDB$DB_KEY AS INTEGER) FROM RDB$DATABASE");
    ExpectCleanRunWritingRows(Header() + OutputTo("#9") + "SELECT a FROM t;\n", "1\r\n");
}

}  // namespace

// For the other suites of this binary: a whole text through the library.
int RunEngineScript(const std::string& text, std::vector<std::string>& errors) {
    Reports reports;
    int n = TheEngine().Run(text, reports);
    for (auto& e : reports.errors)
        errors.push_back(e.first + " @ " + e.second);
    return n;
}

// The protocol of a run: the statement texts, then each error and where.
int RunEngineProtocol(const std::string& text, std::vector<std::string>& protocol) {
    Reports reports;
    int n = TheEngine().Run(text, reports);
    protocol = reports.statements;
    for (auto& e : reports.errors)
        protocol.push_back("Error: " + e.first + "\r\n" + e.second);
    return n;
}

namespace {

// The server is killed while a script runs: one error, and the call returns.
TEST_F(ScriptRun, ServerKilledMidRunIsOneError) {
    ASSERT_NO_THROW(StartTestServer());
    db = TestServerDatabase(dir / "server.fdb");
    CreateDb();
    // Killed while a statement of half a minute runs on it.
    std::string script = Header() + "CREATE TABLE t (a INT);\n";
    for (int i = 0; i < 10; ++i)
        script += "INSERT INTO t VALUES (" + std::to_string(i) + ");\n";
    script +=
        "EXECUTE BLOCK AS DECLARE t0 TIMESTAMP; BEGIN t0 = CAST('NOW' AS TIMESTAMP);\n"
        "  WHILE (DATEDIFF(SECOND FROM t0 TO CAST('NOW' AS TIMESTAMP)) < 30) DO BEGIN END\n"
        "END;\n"
        "INSERT INTO t VALUES (10);\n";
    reports = Reports();
    bool killed = false;
    reports.on_status = [&](const std::string& text) {
        if (!killed && text.rfind("Statement 14 of 15, line 12: ", 0) == 0) {
            killed = true;
            KillTestServer();
        }
    };
    int errors = TheEngine().Run(script, reports);
    EXPECT_EQ(errors, 1);
    ExpectOneErrorHolding("connection");
    StartTestServer();
}

}  // namespace
}  // namespace tallo::testing
