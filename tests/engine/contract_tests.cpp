// The engine's contract, through the exported entry of the built library
// (loaded with dlopen as the tool loads it) on a scripted fake session.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ibescript.h"
#include "tests/support/temp_dir.h"

namespace {

struct Report {
    char kind;  // 'E' error, 'S' status, 'T' statement
    std::string first;
    std::string second;
};

std::vector<Report>* g_reports = nullptr;

std::string Text(const char* s) {
    return s == nullptr ? std::string() : std::string(s);
}

int32_t TALLO_STDCALL OnError(const char* a, const char* b) {
    g_reports->push_back({'E', Text(a), Text(b)});
    return 0;
}
int32_t TALLO_STDCALL OnStatus(const char* a, const char* b) {
    g_reports->push_back({'S', Text(a), Text(b)});
    return 0;
}
int32_t TALLO_STDCALL OnStatement(const char* a, const char* b) {
    g_reports->push_back({'T', Text(a), Text(b)});
    return 0;
}

class Engine {
  public:
    explicit Engine(const char* path) {
        handle_ = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (handle_ != nullptr) {
            entry_ = reinterpret_cast<TalloExecScriptTextFn>(::dlsym(handle_, TALLO_ENGINE_ENTRY_NAME));
            cancel_ = reinterpret_cast<TalloCancelScriptTextFn>(::dlsym(handle_, TALLO_ENGINE_CANCEL_NAME));
        }
    }
    ~Engine() {
        if (handle_ != nullptr)
            ::dlclose(handle_);
    }
    void* handle() const { return handle_; }
    TalloExecScriptTextFn entry() const { return entry_; }
    TalloCancelScriptTextFn cancel() const { return cancel_; }

  private:
    void* handle_ = nullptr;
    TalloExecScriptTextFn entry_ = nullptr;
    TalloCancelScriptTextFn cancel_ = nullptr;
};

Engine& FakeEngine() {
    static Engine engine(TALLO_FAKE_ENGINE);
    return engine;
}

class EngineContract : public ::testing::Test {
  protected:
    void SetUp() override {
        old_cwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
        ::setenv("TALLO_FAKE_SESSION_LOG", (dir_ / "calls.log").c_str(), 1);
        ::setenv("TALLO_FAKE_SESSION_PLAN", (dir_ / "plan.txt").c_str(), 1);
        g_reports = &reports_;
    }
    void TearDown() override {
        std::filesystem::current_path(old_cwd_);
        g_reports = nullptr;
    }

    int Run(const std::string& text, const std::string& plan = "") {
        tallo::testing::WriteBytes(dir_ / "plan.txt", plan);
        Engine& engine = FakeEngine();
        EXPECT_NE(engine.entry(), nullptr) << ::dlerror();
        if (engine.entry() == nullptr)
            return -1;
        return engine.entry()(text.c_str(), OnError, OnStatus, OnStatement);
    }

    std::vector<std::string> Calls() const {
        std::vector<std::string> lines;
        std::ifstream in(dir_ / "calls.log");
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::vector<Report> Of(char kind) const {
        std::vector<Report> out;
        for (const Report& r : reports_)
            if (r.kind == kind)
                out.push_back(r);
        return out;
    }
    std::vector<std::string> StatementTexts() const {
        std::vector<std::string> out;
        for (const Report& r : Of('T'))
            out.push_back(r.first);
        return out;
    }
    std::string Everything() const {
        std::string all;
        for (const Report& r : reports_)
            all += r.first + "\n" + r.second + "\n";
        return all;
    }

    tallo::testing::TempDir dir_;
    std::filesystem::path old_cwd_;
    std::vector<Report> reports_;
};

using V = std::vector<std::string>;

constexpr const char* kVersionQuery =
    "SET NAMES WIN1251; CONNECT 'db' USER 'SYSDBA' PASSWORD 'x'; output 'DBVersion.out' delimeter #9; "
    "select Version from db_version output; COMMIT WORK;";

TEST_F(EngineContract, VersionQueryWritesTheFileAndCommits) {
    EXPECT_EQ(Run(kVersionQuery, "cols\tdb_version\tVERSION\nrow\tdb_version\t3.2.1\n"), 0);
    EXPECT_EQ(tallo::testing::ReadBytes(dir_ / "DBVersion.out"), "3.2.1\r\n");
    EXPECT_EQ(Calls(),
              (V{"connect db user=SYSDBA password=x role= charset=WIN1251 dialect=3 cache=0",
                 "execute select Version from db_version output", "commit retain=0", "disconnect commit=1"}));
    const V texts = StatementTexts();
    ASSERT_EQ(texts.size(), 6u);
    EXPECT_EQ(texts[0], "SET NAMES WIN1251");
    EXPECT_EQ(texts[1], "CONNECT 'db' USER '****' PASSWORD '****'");
    EXPECT_EQ(texts[3], "select Version from db_version output");
    EXPECT_EQ(texts[5].rfind("Statements executed: 5 of 5, errors: 0, elapsed time: ", 0), 0u) << texts[5];
    EXPECT_TRUE(Of('E').empty());
}

TEST_F(EngineContract, OutputReplacesALinkAtItsNameInsteadOfFollowingIt) {
    tallo::testing::WriteBytes(dir_ / "victim.txt", "victim");
    for (const char* points_to : {"victim.txt", "created.txt"}) {
        std::filesystem::remove(dir_ / "DBVersion.out");
        std::filesystem::create_symlink(dir_ / points_to, dir_ / "DBVersion.out");
        EXPECT_EQ(Run(kVersionQuery, "cols\tdb_version\tVERSION\nrow\tdb_version\t3.2.1\n"), 0);
        EXPECT_FALSE(std::filesystem::is_symlink(dir_ / "DBVersion.out")) << points_to;
        EXPECT_EQ(tallo::testing::ReadBytes(dir_ / "DBVersion.out"), "3.2.1\r\n");
    }
    EXPECT_EQ(tallo::testing::ReadBytes(dir_ / "victim.txt"), "victim");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "created.txt"));
}

TEST_F(EngineContract, VersionQueryWithoutTableReportsAnErrorAndLeavesAnEmptyFile) {
    EXPECT_EQ(Run(kVersionQuery, "fail\tdb_version\tTable unknown DB_VERSION\t42S02\n"), 1);
    const auto errors = Of('E');
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, "Table unknown DB_VERSION");
    EXPECT_EQ(errors[0].second, "At line 1, SQLSTATE 42S02\r\nselect Version from db_version output");
    EXPECT_EQ(tallo::testing::ReadBytes(dir_ / "DBVersion.out"), "");
}

TEST_F(EngineContract, CallbackOrderStatusThenStatementThenError) {
    Run("CONNECT 'db';\nselect 1 from t;\n", "fail\tselect 1\tboom\n");
    std::string kinds;
    for (const Report& r : reports_)
        kinds += r.kind;
    EXPECT_EQ(kinds, "STSTET");
    EXPECT_EQ(reports_[0].first, "");
    EXPECT_EQ(reports_[0].second, "Statement 1 of 2 (50%)");
    EXPECT_EQ(reports_[1].second, "");
    EXPECT_EQ(reports_[2].second, "Statement 2 of 2 (100%)");
}

TEST_F(EngineContract, PasswordsNeverAppearInAnyReport) {
    // Each statement fails, and Firebird's error text repeats the secret the
    // way its "Token unknown" does; the secret is Sekret in every form.
    struct Case {
        std::string statement, shown;
    };
    const std::vector<Case> cases = {
        {"ALTER USER bob PASSWORD 'Sekret'", "ALTER USER bob PASSWORD '****'"},
        {"ALTER USER bob PASSWORD q'{Sekret}'", "ALTER USER bob PASSWORD q'{****}'"},
        {"ALTER USER bob PASSWORD _win1251 'Sekret'", "ALTER USER bob PASSWORD _win1251 '****'"},
        {"ALTER USER bob PASSWORD x'53656B726574'", "ALTER USER bob PASSWORD x'****'"},
        {"ALTER USER bob PASSWORD Sekret", "ALTER USER bob PASSWORD ****"},
        {"CREATE OR ALTER USER bob PASSWORD \"Sekret\"", "CREATE OR ALTER USER bob PASSWORD \"****\""},
        {"CONNECT 'db2' USER 'SYSDBA' PASWORD 'Sekret'", "CONNECT 'db2' USER '****' PASWORD '****'"},
        {"CONNECT 'db2' USER 'SYSDBA' 'Sekret'", "CONNECT 'db2' USER '****' '****'"},
        {"CONNECT 'db2' USER 'SYSDBA' PASSWORD 'Sekret'", "CONNECT 'db2' USER '****' PASSWORD '****'"},
        {"CREATE DATABASE 'new.fdb' PASWORD 'Sekret'", "CREATE DATABASE 'new.fdb' PASWORD '****'"},
        {"CREATE DATABASE 'new.fdb' USER 'U' PASSWORD 'Sekret'",
         "CREATE DATABASE 'new.fdb' USER '****' PASSWORD '****'"},
        {"EXECUTE BLOCK AS BEGIN EXECUTE STATEMENT 'ALTER USER bob PASSWORD ''Sekret'''; END",
         "EXECUTE BLOCK AS BEGIN EXECUTE STATEMENT 'ALTER USER bob PASSWORD ''****'''; END"},
        {"EXECUTE BLOCK AS BEGIN EXECUTE STATEMENT q'[create user bob password Sekret]'; END",
         "EXECUTE BLOCK AS BEGIN EXECUTE STATEMENT q'[create user bob password ****]'; END"},
    };
    for (const Case& c : cases) {
        reports_.clear();
        Run("SET TERM ^;\nCONNECT 'db'^\n" + c.statement + "^\n",
            "fail\tbob\tToken unknown - line 1, column 27\r-Sekret\n"
            "fail\tCONNECT db2\tlogin failed for Sekret\n"
            "fail\tnew.fdb\tcannot create 'Sekret'\n");
        const std::string all = Everything();
        EXPECT_EQ(all.find("Sekret"), std::string::npos) << all;
        EXPECT_NE(all.find(c.shown), std::string::npos) << c.statement << "\n" << all;
        EXPECT_EQ(Of('E').size(), 1u) << all;
        EXPECT_FALSE(Of('S').empty());
    }
    // No false hits: a column named password, a string without the word.
    reports_.clear();
    Run("CONNECT 'db'; select password from users where login = 'bob';");
    EXPECT_NE(Everything().find("select password from users where login = 'bob'"), std::string::npos);
}

TEST_F(EngineContract, CreateDatabaseGetsTheLoginAndCharacterSetInForce) {
    Run("SET NAMES WIN1251; SET SQL DIALECT 1; CONNECT 'old' USER 'SYSDBA' PASSWORD 'pw';\n"
        "CREATE DATABASE 'new.fdb';");
    const V calls = Calls();
    ASSERT_GE(calls.size(), 3u);
    // The old attachment's work is rolled back first, and the protocol says so.
    EXPECT_EQ(calls[1], "disconnect commit=0");
    EXPECT_EQ(calls[2], "create CREATE DATABASE 'new.fdb' user=SYSDBA password=pw charset=WIN1251 dialect=1");
    EXPECT_EQ(StatementTexts()[4], "Rolling back work.");
}

TEST_F(EngineContract, UserExceptionMessageComesAloneForMsgTexts) {
    const std::string msg = "MSG:\xCD\xE5\xF2 \xE4\xE0\xED\xED\xFB\xF5";  // Windows-1251
    EXPECT_EQ(Run("CONNECT 'db';\nEXECUTE PROCEDURE CHECK_DATA;\n", "user\tCHECK_DATA\t" + msg + "\n"), 1);
    const auto errors = Of('E');
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, msg);
    EXPECT_EQ(errors[0].second.rfind("At line 2", 0), 0u);
}

TEST_F(EngineContract, WithoutBailTheRunGoesOnAndCommits) {
    EXPECT_EQ(
        Run("CONNECT 'db'; insert into a values (1); insert into b values (2); insert into c values (3);",
            "fail\tinto a\tfirst\nfail\tinto b\tsecond\n"),
        2);
    const V calls = Calls();
    EXPECT_EQ(calls.back(), "disconnect commit=1");
    EXPECT_EQ(calls[calls.size() - 2], "execute insert into c values (3)");
}

TEST_F(EngineContract, BailStopsAtTheFirstErrorAndRollsBack) {
    EXPECT_EQ(Run("SET BAIL ON; CONNECT 'db'; insert into a values (1); insert into b values (2);",
                  "fail\tinto a\tfirst\n"),
              1);
    EXPECT_EQ(Calls(), (V{"connect db user= password= role= charset= dialect=3 cache=0",
                          "execute insert into a values (1)", "disconnect commit=0"}));
    EXPECT_NE(StatementTexts().back().find("SET BAIL"), std::string::npos);
}

TEST_F(EngineContract, LostConnectionStopsWithOneError) {
    EXPECT_EQ(Run("CONNECT 'db'; select 1 from a; select 2 from b;", "lost\tfrom a\tconnection shutdown\n"),
              1);
    const V calls = Calls();
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls.back(), "disconnect commit=0");
}

TEST_F(EngineContract, FailedConnectGivesOneErrorUntilTheNextConnect) {
    EXPECT_EQ(Run("CONNECT 'db' PASSWORD 'bad'; insert into a values (1); insert into b values (2); "
                  "select 3 from c; CONNECT 'other'; insert into d values (4);",
                  "fail\tCONNECT db\tYour user name and password are not defined\t28000\n"),
              2);
    std::vector<Report> errors = Of('E');
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1].first, "No database is connected");
    EXPECT_NE(errors[1].second.find("insert into a"), std::string::npos);
    // The statements that could not run are neither executed nor logged.
    EXPECT_EQ(Everything().find("into b"), std::string::npos);
    EXPECT_EQ(Everything().find("from c"), std::string::npos);
    EXPECT_EQ(Calls().back(), "disconnect commit=1");
    EXPECT_NE(StatementTexts().back().find("not run for want of a connection: 2"), std::string::npos);
    EXPECT_NE(Everything().find("insert into d"), std::string::npos);
}

TEST_F(EngineContract, DamagedScriptsChangeNothing) {
    for (const char* text :
         {"CONNECT 'db';\ninsert into t values ('cut here);\n", "CONNECT 'db';\ninsert into t values (2)",
          "CONNECT 'db';\nCREATE PROCEDURE P AS BEGIN insert into t values (1);\n",
          "CONNECT 'db';\n/* never closed\n", "CONNECT 'db';\nINPUT 'missing.sql';\n"}) {
        reports_.clear();
        EXPECT_EQ(Run(text), 1) << text;
        EXPECT_TRUE(Calls().empty()) << text;
        ASSERT_EQ(Of('E').size(), 1u) << text;
        EXPECT_EQ(Of('E')[0].second, "At line 2") << text;
        EXPECT_EQ(StatementTexts().size(), 1u) << text;  // the summary alone
    }
    EXPECT_EQ(Of('E')[0].first.rfind("Cannot read INPUT file", 0), 0u);
}

TEST_F(EngineContract, InputNestingRunsFilesInPlaceAndNamesThemInErrors) {
    std::filesystem::create_directory(dir_ / "sub");
    tallo::testing::WriteBytes(dir_ / "a.sql", "insert into a values (1);\nINPUT 'sub/b.sql';\n");
    tallo::testing::WriteBytes(dir_ / "sub/b.sql", "\r\ninsert into b values (2);\r\n");
    EXPECT_EQ(Run("CONNECT 'db'; INPUT 'a.sql'; insert into c values (3);", "fail\tinto b\tno b\n"), 1);
    const V calls = Calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[1], "execute insert into a values (1)");
    EXPECT_EQ(calls[2], "execute insert into b values (2)");
    EXPECT_EQ(calls[3], "execute insert into c values (3)");
    EXPECT_EQ(Of('E')[0].second, "At line 2 of file \"sub/b.sql\"\r\ninsert into b values (2)");
}

TEST_F(EngineContract, RelativeInputNamesComeFromTheScriptFolderNamedBeforeTheCall) {
    namespace fs = std::filesystem;
    using tallo::testing::WriteBytes;
    auto set_folder = reinterpret_cast<TalloSetScriptFolderFn>(
        ::dlsym(FakeEngine().handle(), TALLO_ENGINE_SCRIPT_FOLDER_NAME));
    ASSERT_NE(set_folder, nullptr);
    fs::create_directories(dir_ / "scripts/sub");
    WriteBytes(dir_ / "scripts/a.sql", "insert into a values (1);\nINPUT 'sub/b.sql';\n");
    WriteBytes(dir_ / "scripts/sub/b.sql", "INPUT c.sql;\n");  // from its own folder
    WriteBytes(dir_ / "scripts/sub/c.sql", "insert into c values (3);\n");
    WriteBytes(dir_ / "a.sql", "insert into here values (0);\n");
    WriteBytes(dir_ / "abs.sql", "insert into abs values (2);\n");
    const std::string text = "CONNECT 'db'; INPUT 'a.sql'; INPUT '" + (dir_ / "abs.sql") +
                             "'; output 'rows.txt'; select Version from db_version; output;";
    const std::string plan = "cols\tdb_version\tVERSION\nrow\tdb_version\t1\n";
    // In the worker and inside the caller's process alike.
    for (const char* worker : {"1", "0"}) {
        SCOPED_TRACE(worker);
        ::setenv("TALLO_ENGINE_WORKER", worker, 1);
        fs::remove(dir_ / "calls.log");
        set_folder((dir_ / "scripts/").c_str());
        EXPECT_EQ(Run(text, plan + "fail\tinto c\tno c\n"), 1) << Everything();
        ASSERT_EQ(Of('E').size(), 1u);
        EXPECT_EQ(Of('E')[0].second, "At line 1 of file \"sub/c.sql\"\r\ninsert into c values (3)");
        reports_.clear();
        V calls = Calls();
        ASSERT_EQ(calls.size(), 6u);
        EXPECT_EQ(calls[1], "execute insert into a values (1)");
        EXPECT_EQ(calls[2], "execute insert into c values (3)");
        EXPECT_EQ(calls[3], "execute insert into abs values (2)");
        // The output file stays in the current directory.
        EXPECT_TRUE(fs::exists(dir_ / "rows.txt"));
        EXPECT_FALSE(fs::exists(dir_ / "scripts/rows.txt"));

        fs::remove(dir_ / "calls.log");
        set_folder(nullptr);
        EXPECT_EQ(Run("CONNECT 'db'; INPUT 'a.sql';"), 0) << Everything();
        calls = Calls();
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_EQ(calls[1], "execute insert into here values (0)");
    }
    ::unsetenv("TALLO_ENGINE_WORKER");
}

TEST_F(EngineContract, InputCycleIsRefusedBeforeAnythingRuns) {
    tallo::testing::WriteBytes(dir_ / "a.sql", "INPUT 'b.sql';\n");
    tallo::testing::WriteBytes(dir_ / "b.sql", "insert into t values (1);\nINPUT 'a.sql';\n");
    EXPECT_EQ(Run("CONNECT 'db'; INPUT 'a.sql';"), 1);
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(Of('E')[0].first.rfind("INPUT cycle: ", 0), 0u) << Of('E')[0].first;
}

TEST_F(EngineContract, InputFileWithANulByteIsRefusedAtItsLineBeforeAnythingRuns) {
    tallo::testing::WriteBytes(
        dir_ / "nul.sql",
        std::string("insert into t values (2);\r\ncommit;\r\n\0insert into t values (3);\n", 63));
    EXPECT_EQ(Run("CONNECT 'db'; insert into t values (1);\nINPUT 'nul.sql';\n"), 1);
    EXPECT_TRUE(Calls().empty());
    ASSERT_EQ(Of('E').size(), 1u);
    EXPECT_EQ(Of('E')[0].first, "INPUT file \"nul.sql\" holds a NUL byte");
    EXPECT_EQ(Of('E')[0].second, "At line 3 of file \"nul.sql\"");
}

TEST_F(EngineContract, AutoddlCommitsDdlUnlessSwitchedOff) {
    Run("CONNECT 'db'; create table t (a int); SET AUTODDL OFF; create table u (a int);",
        "ddl\tcreate table\n");
    EXPECT_EQ(Calls(),
              (V{"connect db user= password= role= charset= dialect=3 cache=0", "ddl create table t (a int)",
                 "execute create table u (a int)", "disconnect commit=1"}));
}

// SET STATS: after each statement the database sees (COMMIT included) and
// not after client commands; fetches are the statement's own.
TEST_F(EngineContract, StatsFollowDatabaseStatementsInIsqlsWords) {
    Run("CONNECT 'db'; SET STATS ON; insert into t values (1); SET COUNT ON; COMMIT; SET STATS OFF; "
        "insert into t values (2);");
    const V texts = StatementTexts();
    ASSERT_EQ(texts.size(), 10u);
    EXPECT_EQ(texts[3].rfind("Current memory = 0\r\nDelta memory = 0\r\nMax memory = 0\r\nElapsed time= ", 0),
              0u)
        << texts[3];
    EXPECT_NE(texts[3].find(" sec\r\nCpu = "), std::string::npos) << texts[3];
    EXPECT_NE(texts[3].find(" sec\r\nBuffers = 0\r\nReads = 0\r\nWrites = 0\r\nFetches = 1"),
              std::string::npos)
        << texts[3];
    EXPECT_EQ(texts[5], "COMMIT");
    EXPECT_EQ(texts[6].rfind("Current memory", 0), 0u);
    EXPECT_EQ(texts[7], "SET STATS OFF");
}

TEST_F(EngineContract, RowsWithoutOutputGoToTheProtocolAsATable) {
    std::string plan = "cols\tfrom t\tNAME,#QTY\n";
    for (int i = 0; i < 1003; ++i)
        plan += "row\tfrom t\tx|" + std::to_string(i) + "\n";
    Run("CONNECT 'db'; select name, qty from t;", plan);
    const V texts = StatementTexts();
    ASSERT_EQ(texts.size(), 4u);
    const std::string& table = texts[2];
    EXPECT_EQ(table.rfind("NAME QTY\r\n==== ===\r\nx      0\r\n", 0), 0u) << table.substr(0, 60);
    EXPECT_NE(table.find("\r\nx    999\r\n... 3 more rows not shown (1003 rows in all)"), std::string::npos);
}

TEST_F(EngineContract, OutputAloneEndsTheFileAndTheNextOutputReplacesIt) {
    const std::string plan = "cols\tfrom t\tA\nrow\tfrom t\t1\n";
    tallo::testing::WriteBytes(dir_ / "two.txt", "stale");
    Run("CONNECT 'db'; OUTPUT one.txt DELIMITER ';'; select a from t; OUTPUT; select a from t;"
        "OUTPUT 'two.txt' delimeter #9; select a from t; select a from t;",
        plan);
    EXPECT_EQ(tallo::testing::ReadBytes(dir_ / "one.txt"), "1\r\n");
    EXPECT_EQ(tallo::testing::ReadBytes(dir_ / "two.txt"), "1\r\n1\r\n");
    EXPECT_NE(StatementTexts()[5].find("A\r\n=\r\n1"), std::string::npos);  // the one without OUTPUT
}

TEST_F(EngineContract, ExitCommitsAndQuitRollsBack) {
    Run("CONNECT 'db'; insert into t values (1); EXIT; insert into t values (2);");
    EXPECT_EQ(Calls().back(), "disconnect commit=1");
    EXPECT_EQ(Calls().size(), 3u);
    std::filesystem::remove(dir_ / "calls.log");
    Run("CONNECT 'db'; insert into t values (1); QUIT;");
    EXPECT_EQ(Calls().back(), "disconnect commit=0");
}

TEST_F(EngineContract, WrongClientCommandIsReportedAndTheRunGoesOn) {
    EXPECT_EQ(Run("CONNECT 'db' COLOR red; SET SQL DIALECT 7; select 1 from t;"), 3);
    EXPECT_EQ(Of('E')[0].first, "Invalid CONNECT command near COLOR");
    EXPECT_EQ(Of('E')[2].first, "No database is connected");
}

TEST_F(EngineContract, NullTextAndNullCallbacksAreSafe) {
    static Engine engine(TALLO_FAKE_ENGINE);
    ASSERT_NE(engine.entry(), nullptr);
    EXPECT_EQ(engine.entry()(nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(engine.entry()("select 'broken", nullptr, nullptr, nullptr), 1);
}

// --- The worker process: stop, crash, live status -------------------------

using Clock = std::chrono::steady_clock;

// Asks for a stop from inside the status callback once the statement whose
// running time it shows has started.
int32_t TALLO_STDCALL StopWhenRunning(const char* a, const char* b) {
    OnStatus(a, b);
    if (Text(b).find(", line ") != std::string::npos) {
        EXPECT_EQ(FakeEngine().cancel()(), 1);
    }
    return 0;
}

constexpr const char* kSlowScript =
    "CONNECT 'db';\ninsert 1;\ncommit;\ninsert 2;\nslow;\ninsert 3;\ncommit;\n";

TEST_F(EngineContract, StopCancelsTheRunningStatementRunsNothingMoreAndRollsBack) {
    // From inside a callback and from another thread; in the worker and
    // inside the caller's process.
    const struct {
        const char* worker;
        bool from_callback;
    } cases[] = {{"1", true}, {"1", false}, {"0", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.worker) + (c.from_callback ? " callback" : " thread"));
        ::setenv("TALLO_ENGINE_WORKER", c.worker, 1);
        reports_.clear();
        std::filesystem::remove(dir_ / "calls.log");
        tallo::testing::WriteBytes(dir_ / "plan.txt", "sleep\tslow\t30000\n");
        const auto started = Clock::now();
        std::thread stopper;
        if (!c.from_callback) {
            stopper = std::thread([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                EXPECT_EQ(FakeEngine().cancel()(), 1);
            });
        }
        EXPECT_EQ(FakeEngine().entry()(kSlowScript, OnError, c.from_callback ? StopWhenRunning : OnStatus,
                                       OnStatement),
                  1);
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
        if (stopper.joinable())
            stopper.join();
        EXPECT_EQ(Calls(),
                  (V{"connect db user= password= role= charset= dialect=3 cache=0", "execute insert 1",
                     "commit retain=0", "execute insert 2", "execute slow", "disconnect commit=0"}));
        ASSERT_FALSE(reports_.empty());
        EXPECT_EQ(reports_.back().kind, 'E');
        EXPECT_EQ(reports_.back().first, "The operator stopped the script at statement 5, line 5");
        EXPECT_EQ(reports_.back().second, "At line 5");
        EXPECT_EQ(Of('E').size(), 1u) << Everything();
    }
    ::unsetenv("TALLO_ENGINE_WORKER");
    EXPECT_EQ(FakeEngine().cancel()(), 0) << "no call runs";
}

TEST_F(EngineContract, WorkerThatIgnoresTheStopIsKilledAfterFiveSeconds) {
    tallo::testing::WriteBytes(dir_ / "plan.txt", "hang\tslow\n");
    const auto started = Clock::now();
    EXPECT_EQ(FakeEngine().entry()(kSlowScript, OnError, StopWhenRunning, OnStatement), 1);
    const auto took = Clock::now() - started;
    EXPECT_GE(took, std::chrono::seconds(5));
    EXPECT_LT(took, std::chrono::seconds(9));
    ASSERT_EQ(Of('E').size(), 1u) << Everything();
    EXPECT_EQ(Of('E')[0].first, "The operator stopped the script at statement 5, line 5");
}

TEST_F(EngineContract, WorkerThatDiesIsOneErrorAfterEveryLineItMade) {
    const struct {
        const char* how;
        const char* error;
    } cases[] = {
        {"segv", "Firebird stopped unexpectedly (signal 11) while running statement 3 at line 3"},
        {"abort", "Firebird stopped unexpectedly (signal 6) while running statement 3 at line 3"},
        {"7", "Firebird stopped unexpectedly (exit code 7) while running statement 3 at line 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        reports_.clear();
        EXPECT_EQ(Run("CONNECT 'db';\ninsert 1;\nboom;\ninsert 2;\n", std::string("crash\tboom\t") + c.how),
                  1);
        EXPECT_EQ(StatementTexts(), (V{"CONNECT 'db'", "insert 1", "boom"}));
        ASSERT_EQ(Of('E').size(), 1u) << Everything();
        EXPECT_EQ(Of('E')[0].first, c.error);
        EXPECT_EQ(Of('E')[0].second, "At line 3");
    }
}

TEST_F(EngineContract, StatusLineHearsFromALongStatementEveryFifthOfASecond) {
    std::vector<Clock::time_point> when;
    static std::vector<Clock::time_point>* g_when = &when;
    g_when = &when;
    auto on_status = [](const char* a, const char* b) -> int32_t {
        g_when->push_back(Clock::now());
        return OnStatus(a, b);
    };
    tallo::testing::WriteBytes(dir_ / "plan.txt", "sleep\tslow\t1500\n");
    EXPECT_EQ(FakeEngine().entry()("CONNECT 'db';\nslow;\n", OnError, on_status, OnStatement), 0);
    const std::vector<Report> status = Of('S');
    ASSERT_GE(status.size(), 6u);
    EXPECT_EQ(status[2].second, "Statement 2 of 2, line 2: 00:00");
    EXPECT_EQ(status[status.size() - 2].second, "Statement 2 of 2, line 2: 00:01");
    for (std::size_t i = 1; i < when.size(); ++i)
        EXPECT_LE(when[i] - when[i - 1], std::chrono::milliseconds(400)) << i;
}

TEST_F(EngineContract, WorkerIsFoundBesideTheLibraryAndGetsNoPassword) {
    // A worker planted in the current directory or on PATH is never started.
    tallo::testing::TempDir alone;
    std::filesystem::copy_file(TALLO_FAKE_ENGINE, alone / TALLO_ENGINE_FILE_NAME);
    for (const std::string& planted : {dir_ / "tallo-engine-worker", dir_ / "bin/tallo-engine-worker"}) {
        std::filesystem::create_directories(std::filesystem::path(planted).parent_path());
        tallo::testing::WriteBytes(planted, "#!/bin/sh\ntouch " + dir_ / "planted-ran" + "\n");
        ::chmod(planted.c_str(), 0755);
    }
    const std::string path = ::getenv("PATH");
    ::setenv("PATH", (dir_ / "bin:").append(path).c_str(), 1);
    {
        Engine engine((alone / TALLO_ENGINE_FILE_NAME).c_str());
        ASSERT_NE(engine.entry(), nullptr);
        EXPECT_EQ(engine.entry()("CONNECT 'db';", OnError, OnStatus, OnStatement), 1);
    }
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "planted-ran"));
    ASSERT_EQ(Of('E').size(), 1u);
    EXPECT_EQ(Of('E')[0].first, "Cannot start the engine's worker program \"" +
                                    std::filesystem::canonical(alone.path()).string() +
                                    "/tallo-engine-worker\": No such file or directory");
    EXPECT_EQ(Of('E')[0].second, "Before the first statement");

    // The real worker: neither the script's password nor the runner's
    // password variable reaches its command line or environment.
    ::setenv("TALLO_FAKE_SESSION_SELF", (dir_ / "self.txt").c_str(), 1);
    ::setenv("TALLO_PASSWORD", "FromTheRunner", 1);
    EXPECT_EQ(Run("CONNECT 'db' USER 'u' PASSWORD 'FromTheScript';"), 0) << Everything();
    ::unsetenv("TALLO_FAKE_SESSION_SELF");
    ::unsetenv("TALLO_PASSWORD");
    const std::string self = tallo::testing::ReadBytes(dir_ / "self.txt");
    EXPECT_NE(self.find("tallo-engine-worker"), std::string::npos) << self;
    EXPECT_EQ(self.find("FromThe"), std::string::npos) << self;
}

TEST_F(EngineContract, WorkerStaysForTheNextCallUnlessFirebirdsSettingsChange) {
    ::setenv("TALLO_FAKE_SESSION_SELF", (dir_ / "self.txt").c_str(), 1);
    auto worker = [&] {
        EXPECT_EQ(Run("CONNECT 'db';"), 0) << Everything();
        const std::string self = tallo::testing::ReadBytes(dir_ / "self.txt");
        return self.substr(0, self.find('\n'));
    };
    ::setenv("FIREBIRD_TALLO_MARK", "1", 1);
    const std::string first = worker();
    EXPECT_EQ(worker(), first);
    ::setenv("FIREBIRD_TALLO_MARK", "2", 1);
    const std::string second = worker();
    EXPECT_NE(second, first);
    EXPECT_NE(tallo::testing::ReadBytes(dir_ / "self.txt").find("FIREBIRD_TALLO_MARK=2"), std::string::npos);
    ::unsetenv("FIREBIRD_TALLO_MARK");
    ::unsetenv("TALLO_FAKE_SESSION_SELF");
}

TEST(EngineLibrary, OnlyTheEntriesAreExported) {
    for (const char* path : {TALLO_REAL_ENGINE, TALLO_FAKE_ENGINE}) {
        EXPECT_EQ(std::filesystem::path(path).filename(), TALLO_ENGINE_FILE_NAME);
        Engine engine(path);
        ASSERT_NE(engine.handle(), nullptr) << ::dlerror();
        EXPECT_NE(engine.entry(), nullptr);
        EXPECT_NE(engine.cancel(), nullptr);
        EXPECT_NE(::dlsym(engine.handle(), TALLO_ENGINE_SCRIPT_FOLDER_NAME), nullptr);
        EXPECT_EQ(::dlsym(engine.handle(), "_ZN5tallo6engine19MakeFirebirdSessionEv"), nullptr);
        EXPECT_EQ(::dlsym(engine.handle(),
                          "_ZN5tallo6engine13MaskPasswordsESt17basic_string_viewIcSt11char_traitsIcEE"),
                  nullptr);
    }
}

TEST(EngineLibrary, RealEngineRefusesADamagedScriptWithoutTouchingTheDatabase) {
    Engine engine(TALLO_REAL_ENGINE);
    ASSERT_NE(engine.entry(), nullptr);
    std::vector<Report> reports;
    g_reports = &reports;
    EXPECT_EQ(engine.entry()("CONNECT '/nonexistent/x.fdb';\nselect 'cut", OnError, OnStatus, OnStatement),
              1);
    g_reports = nullptr;
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].first, "Unterminated string");
}

}  // namespace
