// tallo-run as operators and pipelines use it: the built runner as a child
// process, the built engine, embedded databases made fresh in temporary
// folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/engine_runs.h"
#include "tests/cli/process.h"
#include "tests/support/packed_zeros.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"
#include "text/win1251.h"

namespace tallo::testing {
namespace {

namespace fs = std::filesystem;
using cp1251::operator""_cp;

const std::string kSuccess = "Скрипт выполнен успешно!\n";
const std::string kFailure =
    "Скрипт выполнен в ошибками!!!\nРекомендуется восстановить базу из резервной копии";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Every run sees a UTF-8 locale and no password in its environment unless a
// case sets one.
ProcessOptions Env(const std::string& cwd) {
    ProcessOptions o;
    o.cwd = cwd;
    o.env["LC_ALL"] = "C.UTF-8";
    o.env["TALLO_PASSWORD"] = std::nullopt;
    return o;
}

ProcessResult Tool(const std::vector<std::string>& args, const ProcessOptions& options) {
    std::vector<std::string> argv{TALLO_RUN_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, options);
}

void CreateDatabase(const std::string& path) {
    ProcessOptions o;
    o.input = "create database '" + path + "' user SYSDBA default character set WIN1251;\nexit;\n";
    ProcessResult r = RunProcess({TALLO_ISQL, "-q"}, o);
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    ::chmod(path.c_str(), 0666);
}

// A folder with a fresh database, a copy of the engine and a scripts folder.
class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CopyBuiltEngine(dir_.path());
        fs::create_directory(dir_ / "scripts");
        ::chmod((dir_ / "scripts").c_str(), 0777);
        db_ = dir_ / "test.fdb";
        CreateDatabase(db_);
    }
    std::string Script(const std::string& name, const std::string& cp1251_text) {
        std::string path = dir_ / ("scripts/" + name);
        WriteBytes(path, cp1251_text);
        return path;
    }
    ProcessResult Run(std::vector<std::string> args, ProcessOptions options = {}) {
        if (options.cwd.empty())
            options = Env(dir_.path());
        return Tool(args, options);
    }
    // Runs a copy of the runner from the test folder as an unprivileged user
    // (when root): the build folder itself may be out of that user's reach.
    ProcessResult RunUnprivileged(std::vector<std::string> args) {
        const std::string copy = dir_ / "tallo-run";
        if (!fs::exists(copy))
            fs::copy_file(TALLO_RUN_PROGRAM, copy);
        ProcessOptions o = Env(dir_.path());
        o.in_child = [] {
            if (::geteuid() == 0 && (::setgid(kUnprivilegedGid) != 0 || ::setuid(kUnprivilegedUid) != 0))
                ::_exit(98);
            UseTestLockFolder();
            UseTestFirebirdRoot();
        };
        args.insert(args.begin(), copy);
        return RunProcess(args, o);
    }
    void MakeTables() {
        // Run from its own folder, so its protocol stays out of scripts/.
        WriteBytes(dir_ / "setup.sql",
                   "create table db_version (Version varchar(20));\n"
                   "create table t (id integer, name varchar(40));\n"
                   "create exception stop_it 'stop';\ncommit;\n"
                   "insert into db_version values ('2.4.1');\ncommit;\n");
        ProcessResult r = Run({"run", "-d", db_, dir_ / "setup.sql"});
        ASSERT_EQ(r.code, 0) << r.out << r.err;
    }

    // The rows of a query through a UTF8 connection, one per line.
    std::string Utf8Rows(const std::string& sql) {
        ProcessOptions o;
        o.input = "set heading off;\n" + sql + ";\n";
        ProcessResult r = RunProcess({TALLO_ISQL, "-q", "-ch", "UTF8", db_}, o);
        std::string rows;
        std::size_t start = 0;
        for (std::size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = r.out.substr(start, end - start);
            while (!line.empty() && line.back() == ' ')
                line.pop_back();
            if (!line.empty())
                rows += line + "\n";
        }
        return rows;
    }

    TempDir dir_;
    std::string db_;
};

// --- Script runs ---------------------------------------------------------

TEST_F(CliTest, CleanRunExitsZeroPrintsSuccessAndSavesProtocolBesideScript) {
    std::string script = Script(
        "a.sql", "create table city (name varchar(30));\ncommit;\ninsert into city values ('Тверь');\n"_cp);
    ProcessResult r = Run({"run", "--database", db_, script});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, kSuccess);
    EXPECT_EQ(r.err, "") << "no progress when stderr is not a terminal";
    std::string protocol = ReadBytes(dir_ / "scripts/Result.txt");
    EXPECT_TRUE(Contains(protocol, "insert into city values ('Тверь')\r\n"_cp)) << protocol;
    EXPECT_FALSE(Contains(protocol, "CONNECT"));
    EXPECT_FALSE(fs::exists(dir_ / "Result.txt"));
}

TEST_F(CliTest, FailingRunExitsOneWithMsgTextsOnStdoutAndProtocolInWindows1251) {
    MakeTables();
    std::string script = Script("fail.sql",
                                "execute block as begin exception stop_it 'MSG:Клиент уже заведён'; end;\n"
                                "insert into no_such_table values (1);\n"
                                "insert into t values (1, 'после ошибок');\n"_cp);
    ProcessResult r = Run({"run", "-d", db_, script});
    EXPECT_EQ(r.code, 1);
    // The two fixed lines, then exactly one line: the MSG: text without its
    // prefix; the error without MSG: stays in the protocol only.
    EXPECT_EQ(r.out, kFailure + "\nКлиент уже заведён\n");
    std::string protocol = ReadBytes(dir_ / "scripts/Result.txt");
    EXPECT_TRUE(Contains(protocol, "Error: MSG:Клиент уже заведён"_cp)) << protocol;
    EXPECT_TRUE(Contains(protocol, "NO_SUCH_TABLE"));
}

// A large run: its protocol goes on in a temporary file and the engine's
// worker reads the script in windows, a statement longer than a window
// among them. The saved protocol, plain and packed, is every statement in
// order, each ended by CR LF, then the summary: nothing lost or added.
TEST_F(CliTest, MillionStatementProtocolHoldsEveryStatementInOrder) {
    MakeTables();
    std::string script, expected = "SET NAMES WIN1251\r\n";
    script.reserve(48 << 20);
    expected.reserve(48 << 20);
    const auto add = [&](const std::string& statement, const char* end) {
        script += statement + end;
        expected += statement + "\r\n";
    };
    constexpr int kStatements = 1000000;
    for (int i = 0; i < kStatements - 3; ++i) {
        const std::string row = "insert into t values (" + std::to_string(i) +
                                ", '\xF1\xF2\xF0\xEE\xEA\xE0 " + std::to_string(i % 977) + "')";
        add(row, i % 1000 == 0 ? ";\r\n-- a comment between statements\r\n" : ";\n");
        if (i == 400000) {
            add("set term !!!!", ";\n");
            add("insert into t values (-1, 'under another terminator') /*" + std::string(3 << 20, '*') + "*/",
                "!!!!\n");
            add("set term ;", "!!!!\n");
        }
    }
    const std::string plain = Script("big.sql", script);
    ASSERT_EQ(Run({"pack", plain}).code, 0);
    fs::rename(dir_ / "scripts/big.Zql", dir_ / "scripts/packed.zql");
    const std::string summary = "Statements executed: " + std::to_string(kStatements + 2) + " of " +
                                std::to_string(kStatements + 2) + ", errors: 0, elapsed time: ";
    for (const std::string& run : {plain, dir_ / "scripts/packed.zql"}) {
        ProcessResult r = Run({"run", "-d", db_, run});
        ASSERT_EQ(r.code, 0) << r.out << r.err;
        const bool packed = run.ends_with(".zql");
        if (packed) {
            fs::remove(dir_ / "scripts/Result.txt");
            ASSERT_EQ(Run({"unpack", dir_ / "scripts/Result.Zxt"}).code, 0);
        }
        const std::string protocol = ReadBytes(dir_ / "scripts/Result.txt");
        ASSERT_GT(protocol.size(), expected.size() + summary.size()) << run;
        const auto differ = std::mismatch(expected.begin(), expected.end(), protocol.begin()).first;
        EXPECT_EQ(differ, expected.end()) << run << ": differs at byte " << differ - expected.begin();
        EXPECT_EQ(protocol.substr(expected.size(), summary.size()), summary) << run;
        EXPECT_TRUE(protocol.ends_with(" s\r\n")) << run;
    }
}

TEST_F(CliTest, PackedScriptIsUnpackedAndItsProtocolSavedPacked) {
    MakeTables();
    std::string plain = Script("upd.sql", "insert into t values (7, 'упаковано');\ncommit;\n"_cp);
    ProcessResult packed = Run({"pack", plain});
    ASSERT_EQ(packed.code, 0) << packed.err;
    fs::remove(plain);
    // Any letter case of .zql counts as packed.
    fs::rename(dir_ / "scripts/upd.Zql", dir_ / "scripts/upd.ZQL");
    ProcessResult r = Run({"run", "-d", db_, dir_ / "scripts/upd.ZQL"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, kSuccess);
    EXPECT_FALSE(fs::exists(dir_ / "scripts/Result.txt"));
    ASSERT_TRUE(fs::exists(dir_ / "scripts/Result.Zxt"));
    ASSERT_EQ(Run({"unpack", dir_ / "scripts/Result.Zxt"}).code, 0);
    EXPECT_TRUE(Contains(ReadBytes(dir_ / "scripts/Result.txt"), "insert into t values (7, 'упаковано')"_cp));
}

TEST_F(CliTest, EmptyScriptRunsNothingAndSaysSo) {
    ProcessResult r = Run({"run", "-d", db_, Script("empty.sql", "")});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(Contains(r.err, "empty")) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "scripts/Result.txt"));
}

TEST_F(CliTest, ProtocolThatCannotBeSavedIsAFileErrorEvenAfterACleanRun) {
    // The script lies in a folder the (unprivileged) runner cannot write.
    MakeTables();
    fs::create_directory(dir_ / "locked");
    std::string script = dir_ / "locked/a.sql";
    WriteBytes(script, "insert into t values (1, 'x');\n");
    ::chmod(script.c_str(), 0644);
    ::chmod((dir_ / "locked").c_str(), 0555);
    ProcessResult r = RunUnprivileged({"run", "-d", db_, script});
    EXPECT_EQ(r.code, 2) << r.out << r.err;
    EXPECT_EQ(r.out, kSuccess) << "the script itself ran";
    EXPECT_TRUE(Contains(r.err, "Не удается создать файл протокола")) << r.err;
    EXPECT_TRUE(Contains(r.err, "was not saved")) << r.err;
}

// --- Damaged input: refused before anything runs, nothing written ---------

TEST_F(CliTest, DamagedInputRunsNothingAndWritesNothing) {
    MakeTables();
    std::string rows;
    for (int i = 0; i < 2000; ++i)
        rows += "insert into t values (" + std::to_string(i) + ", 'x');\n";
    ASSERT_EQ(Run({"pack", Script("upd.sql", rows + "commit;\n")}).code, 0);
    std::string packed = ReadBytes(dir_ / "scripts/upd.Zql");
    WriteBytes(dir_ / "scripts/cut.Zql", packed.substr(0, 30));
    WriteBytes(dir_ / "scripts/half.Zql", packed.substr(0, packed.size() / 2));
    WriteBytes(dir_ / "scripts/cut.sql", "earlier");
    Script("empty.zql", "");
    WriteBytes(dir_ / "scripts/bomb.Zql", PackedZeros(4096));  // 4 MB that unpack to 4 GB
    Script("nul.sql",
           std::string(
               "insert into t values (2, 'a');\r\ncommit;\r\0insert into t values (3, 'b');\ncommit;\n", 80));
    Script("in.sql", "insert into t values (4, 'c');\ninput '" + (dir_ / "scripts/nul.sql") + "';\n");
    ASSERT_EQ(::mkfifo((dir_ / "scripts/pipe.sql").c_str(), 0666), 0);
    ASSERT_EQ(::mkfifo((dir_ / "scripts/pipe.Zql").c_str(), 0666), 0);
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;
    };
    const std::string s = dir_ / "scripts/";
    const std::vector<Case> cases = {
        {{"run", "-d", db_, s + "cut.Zql"}, 2, "tallo-run: Error\n"},
        {{"run", "-d", db_, s + "half.Zql"}, 2, "tallo-run: Error\n"},
        {{"run", "-d", db_, s + "empty.zql"}, 2, "tallo-run: Error\n"},
        {{"run", "-d", db_, s + "bomb.Zql"}, 2, "bomb.Zql\" expands beyond 512 MB\n"},
        {{"unpack", s + "cut.Zql"}, 2, "cannot unpack " + s + "cut.Zql: Error\ntallo-run: ("},
        {{"run", "-d", db_, s + "nul.sql"}, 2, "nul.sql\" holds a NUL byte at line 3: nothing was run"},
        {{"run", "-d", db_, s + "in.sql"}, 1, ""},
        {{"pack", s + "pipe.sql"}, 2, "Not a regular file"},
        {{"unpack", s + "pipe.Zql"}, 2, "Not a regular file"},
    };
    for (const auto& c : cases) {
        ProcessResult r = Run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.back() << r.out << r.err;
        EXPECT_TRUE(Contains(r.err + r.out, c.message)) << c.args.back() << "\n" << r.err << r.out;
    }
    EXPECT_TRUE(
        Contains(ReadBytes(dir_ / "scripts/Result.txt"), "nul.sql\" holds a NUL byte\r\nAt line 3 of file"));
    EXPECT_EQ(ReadBytes(dir_ / "scripts/cut.sql"), "earlier");
    EXPECT_TRUE(fs::is_fifo(dir_ / "scripts/pipe.Zql"));
    EXPECT_FALSE(fs::exists(dir_ / "scripts/Result.Zxt"));
    // No row of any refused script reached the table.
    WriteBytes(dir_ / "count.sql", "select count(*) from t;\n");
    EXPECT_EQ(Run({"run", "-d", db_, dir_ / "count.sql"}).code, 0);
    EXPECT_TRUE(Contains(ReadBytes(dir_ / "Result.txt"), "=====\r\n    0\r\n"))
        << ReadBytes(dir_ / "Result.txt");
}

// A relative INPUT name is taken from the folder of the file that holds it,
// wherever tallo-run is started and however the script is named; an OUTPUT
// file from the current directory.
TEST_F(CliTest, RelativeInputNamesAreTakenFromTheFolderOfTheFileThatHoldsThem) {
    MakeTables();
    fs::create_directories(dir_ / "scripts/sub/deeper");
    Script("sub/main.sql", "input inc.sql;\ninput 'deeper/d1.sql';\n");
    Script("sub/inc.sql", "insert into t values (1, 'inc');\n");
    Script("sub/deeper/d1.sql", "input \"d2.sql\";\n");
    Script("sub/deeper/d2.sql", "insert into t values (2, 'd2');\n");
    Script("inc.sql", "insert into t values (9, 'the current directory');\n");
    const std::pair<std::string, std::string> runs[] = {{"/", dir_ / "scripts/sub/main.sql"},
                                                        {dir_ / "scripts", "sub/main.sql"}};
    for (const auto& [cwd, script] : runs) {
        ProcessResult r = Tool({"run", "-d", db_, script}, Env(cwd));
        EXPECT_EQ(r.code, 0) << cwd << "\n" << r.out << r.err << ReadBytes(dir_ / "scripts/sub/Result.txt");
    }
    EXPECT_EQ(Utf8Rows("select name from t order by id, name"), "inc\ninc\nd2\nd2\n");
}

// The protocol check of the masking rule: the password of a USER statement
// (or CONNECT, CREATE DATABASE) that Firebird or the engine refuses appears
// nowhere, whatever keywords stand around it.
TEST_F(CliTest, NoLiteralOfARefusedUserStatementReachesTheProtocol) {
    MakeTables();
    const std::string script = Script("users.sql",
                                      "CREATE USER y PASWORD 'Leak5x';\n"
                                      "ALTER USER y SET PASWORD q'{Leak5x}';\n"
                                      "CREATE OR ALTER USER y PASWORD _win1251 'Leak5x';\n"
                                      "RECREATE USER y PASWORD x'4C65616B3578';\n"
                                      "ALTER CURRENT USER SET PASWORD 'Leak5x';\n"
                                      "CREATE USER y 'Leak5x';\n"
                                      "CONNECT 'test.fdb' USR 'SYSDBA' PASWORD 'Leak5x';\n"
                                      "CREATE DATABASE 'new.fdb' USR 'SYSDBA' PASWORD 'Leak5x';\n");
    ProcessResult r = Run({"run", "-d", db_, script});
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    const std::string protocol = ReadBytes(dir_ / "scripts/Result.txt");
    for (const std::string& text : {protocol, r.out, r.err}) {
        EXPECT_EQ(text.find("Leak5x"), std::string::npos) << text;
        EXPECT_EQ(text.find("4C65616B3578"), std::string::npos) << text;
    }
    std::size_t errors = 0;
    for (std::size_t p = 0; (p = protocol.find("\r\nError: ", p)) != std::string::npos; ++p)
        ++errors;
    EXPECT_EQ(errors, 8u) << protocol;
    EXPECT_TRUE(Contains(protocol, "CREATE USER y PASWORD '****'")) << protocol;
}

// --- Interrupted and concurrent runs: real processes -----------------------

TEST_F(CliTest, KilledRunLeavesItsProtocolTheNextRunTellsAndASecondRunIsRefused) {
    MakeTables();
    std::string rows;
    for (int i = 0; i < 60000; ++i)
        rows += "insert into t values (" + std::to_string(i) + ", 'row');\n";
    std::string script = Script("long.sql", rows + "commit;\n");
    Script("other.sql", "insert into t values (-1, 'other');\n");
    WriteBytes(dir_ / "scripts/Result.txt", "last week's protocol");
    const std::string unfinished = dir_ / "scripts/Result.unfinished.txt";
    ProcessResult second;
    ProcessOptions o = Env(dir_.path());
    o.meanwhile = [&](pid_t first) {
        // Wait until the run is well under way: its protocol grows on disk.
        for (int i = 0; i < 3000 && (!fs::exists(unfinished) || fs::file_size(unfinished) < 20000); ++i)
            ::usleep(10000);
        // A second run in the same folder is refused before it starts.
        second = Run({"run", "-d", db_, dir_ / "scripts/other.sql"});
        ::kill(first, SIGKILL);
    };
    // Answers once the engine's worker, which shares the run's stderr, has
    // ended too: it rolls back and lets go of the database on its own.
    EXPECT_EQ(Run({"run", "-d", db_, script}, o).signal, SIGKILL);
    ASSERT_GE(fs::file_size(unfinished), 20000u);
    EXPECT_EQ(second.code, 2);
    EXPECT_TRUE(Contains(second.err, "уже выполняется другой скрипт")) << second.err;
    EXPECT_TRUE(Contains(second.err, unfinished)) << second.err;

    const std::string left = ReadBytes(unfinished);
    EXPECT_TRUE(Contains(left, "insert into t values (0, 'row')\r\n")) << left.substr(0, 200);
    EXPECT_EQ(ReadBytes(dir_ / "scripts/Result.txt"), "last week's protocol");

    // The next run tells the operator first, keeps that protocol and runs.
    ProcessResult next = Run({"run", "-d", db_, dir_ / "scripts/other.sql"});
    EXPECT_EQ(next.code, 0) << next.out << next.err;
    EXPECT_EQ(next.out.rfind("Предыдущее выполнение скрипта в этой папке было прервано.\n", 0), 0u)
        << next.out;
    EXPECT_TRUE(Contains(next.out, "Result.interrupted.txt")) << next.out;
    EXPECT_TRUE(Contains(next.out, kSuccess));
    EXPECT_EQ(ReadBytes(dir_ / "scripts/Result.interrupted.txt"), left);
    EXPECT_FALSE(fs::exists(unfinished));
    EXPECT_TRUE(Contains(ReadBytes(dir_ / "scripts/Result.txt"), "insert into t values (-1, 'other')"_cp));
}

// SIGINT or SIGTERM inside a long statement: the engine cancels it, runs
// nothing further and rolls back what was not committed; the protocol is
// saved with the stop as its last entry. A second SIGINT ends the runner at
// once, and so does the first with an engine that cannot stop a run.
TEST_F(CliTest, StopSignalsEndARunInsideALongStatement) {
    MakeTables();
    const std::string script = Script("slow.sql",
                                      "insert into t values (1, 'kept');\ncommit;\n"
                                      "insert into t values (2, 'rolled back');\n" +
                                          kLongStatement + "insert into t values (3, 'never');\ncommit;\n");
    fs::copy_file(TALLO_PROBE_ENGINE, dir_ / "probe.dll");
    const struct {
        bool probe;  // the stand-in engine, which cannot stop a run
        std::vector<int> signals;
        int code;  // the exit code; -1: ended by the first signal
    } kCases[] = {
        {false, {SIGINT}, 130},
        {false, {SIGTERM}, 143},
        {false, {SIGINT, SIGINT}, -1},
        {true, {SIGINT}, -1},
    };
    int kept = 0;
    for (const auto& c : kCases) {
        ProcessOptions o = Env(dir_.path());
        o.env["TALLO_PROBE_OUT"] = dir_ / "handed.txt";
        o.env["TALLO_PROBE_SECONDS"] = "20";
        // The engine has started the long statement (the probe has the text).
        const std::string shows = c.probe ? dir_ / "handed.txt" : dir_ / "scripts/Result.unfinished.txt";
        auto sent = std::chrono::steady_clock::now();
        o.meanwhile = [&](pid_t pid) {
            ASSERT_TRUE(AwaitText(shows, "execute block"));
            sent = std::chrono::steady_clock::now();
            for (int signal : c.signals) {
                ::kill(pid, signal);
                ASSERT_TRUE(AwaitDefaultAction(pid, signal));
            }
        };
        ProcessResult r = Run({"run", "-e", c.probe ? "probe.dll" : "IBEScript.dll", "-d", db_, script}, o);
        const auto took = std::chrono::steady_clock::now() - sent;
        const std::string what =
            std::to_string(c.signals.size()) + " signal(s), probe " + std::to_string(c.probe);
        EXPECT_LT(took, std::chrono::seconds(5)) << what;
        if (!c.probe)
            ++kept;
        if (c.code == -1) {
            EXPECT_EQ(r.signal, c.signals[0]) << what << r.out << r.err;
            continue;
        }
        EXPECT_EQ(r.code, c.code) << what << r.err;
        EXPECT_EQ(r.out, kFailure + "\n");
        EXPECT_TRUE(Contains(r.err, "stopped by SIG")) << r.err;
        EXPECT_FALSE(fs::exists(dir_ / "scripts/Result.unfinished.txt"));
        const std::string protocol = ReadBytes(dir_ / "scripts/Result.txt");
        EXPECT_TRUE(Contains(protocol, "Error: The operator stopped the script at statement ")) << protocol;
        EXPECT_EQ(protocol.find("Error: "), protocol.rfind("Error: ")) << "one error";
        EXPECT_TRUE(protocol.ends_with(", line 4\r\nAt line 4\r\n")) << protocol;
        EXPECT_EQ(Utf8Rows("select 'rows ' || count(*) || ', last ' || max(id) from t"),
                  "rows " + std::to_string(kept) + ", last 1\n");
    }
}

// --- Outcome and errors always reach the operator --------------------------

TEST_F(CliTest, UnsavedProtocolStillShowsTheEnginesErrors) {
    // A file size limit in the child is a full disk for the protocol. The
    // probe engine fails with the whole text as its error: the protocol
    // outgrows the limit while the database is not touched.
    fs::copy_file(TALLO_PROBE_ENGINE, dir_ / "probe.dll");
    std::string big = Script("big.sql", "select 1 from rdb$database;\n" + std::string(200000, '-') + "\n");
    WriteBytes(dir_ / "scripts/Result.txt", "last protocol");
    ProcessOptions o = Env(dir_.path());
    o.in_child = [] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100000, 100000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    ProcessResult r = Run({"run", "-e", dir_ / "probe.dll", "-d", db_, big}, o);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(Contains(r.out, kFailure)) << r.out;
    EXPECT_TRUE(
        Contains(r.err, "Cannot write file \"" + (dir_ / "scripts/Result.txt") + "\". File too large"))
        << r.err.substr(0, 300);
    EXPECT_TRUE(Contains(r.err, "Error: MSG:SET NAMES WIN1251")) << r.err.substr(0, 300);
    EXPECT_EQ(ReadBytes(dir_ / "scripts/Result.txt"), "last protocol");
}

TEST_F(CliTest, StdoutThatCannotBeWrittenIsExitTwoWithAMessage) {
    std::string script = Script("a.sql", "select 1 from rdb$database;\n");
    for (std::vector<std::string> args :
         {std::vector<std::string>{"run", "-d", db_, script}, {"pack", script}}) {
        ProcessOptions o = Env(dir_.path());
        o.in_child = [] {
            int full = ::open("/dev/full", O_WRONLY);
            ::dup2(full, 1);
        };
        ProcessResult r = Run(args, o);
        EXPECT_EQ(r.code, 2) << args[0];
        EXPECT_TRUE(Contains(r.err, "tallo-run: cannot write to standard output: No space left on device"))
            << args[0] << r.err;
    }
}

TEST_F(CliTest, ClosedStandardDescriptorsAreOpenedOnDevNull) {
    // Firebird's lock files must not take descriptor 1 and get the outcome.
    MakeTables();
    fs::create_directory(dir_ / "lock");
    std::string script = Script("a.sql", "insert into t values (5, 'closed');\ncommit;\n");
    for (std::vector<int> closed : {std::vector<int>{1}, {0, 1, 2}}) {
        ProcessOptions o = Env(dir_.path());
        o.env["FIREBIRD_LOCK"] = dir_ / "lock";
        o.in_child = [closed] {
            for (int fd : closed)
                ::close(fd);
        };
        ProcessResult r = Run({"run", "-d", db_, script}, o);
        EXPECT_EQ(r.code, 0) << closed.size();
        EXPECT_TRUE(Contains(ReadBytes(dir_ / "scripts/Result.txt"), "insert into t values (5, 'closed')"));
        for (const auto& e : fs::directory_iterator(dir_ / "lock"))
            EXPECT_FALSE(Contains(ReadBytes(e.path()), "\xD1\xEA\xF0\xE8\xEF\xF2")) << e.path();  // "Скрипт"
    }
}

#ifdef TALLO_WINDOW_PROGRAM
// The window's program too: started with 0, 1 and 2 closed, it holds
// /dev/null there once it runs, so nothing it or Qt writes lands in a file
// Firebird opens later.
TEST(WindowProgram, ClosedStandardDescriptorsAreOpenedOnDevNull) {
    TempDir dir;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::chdir(dir.path().c_str()) != 0)
            ::_exit(126);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        for (int fd = 0; fd <= 2; ++fd)
            ::close(fd);
        ::execl(TALLO_WINDOW_PROGRAM, TALLO_WINDOW_PROGRAM, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::vector<std::string> targets;
    for (int attempt = 0; attempt < 100 && targets.size() < 3; ++attempt) {
        ::usleep(50000);
        targets.clear();
        for (int fd = 0; fd <= 2; ++fd) {
            std::error_code ec;
            const fs::path target =
                fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), ec);
            if (!ec && target == "/dev/null")
                targets.push_back(target);
        }
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(targets.size(), 3u);
}
#endif

// --- Script encodings ----------------------------------------------------

// UTF-16 of a UTF-8 text (BMP only), with its byte-order mark.
std::string Utf16(const std::string& utf8, bool big_endian) {
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        char32_t cp = b;
        std::size_t n = 1;
        if (b >= 0xE0) {
            cp = ((b & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F);
            n = 3;
        } else if (b >= 0xC0) {
            cp = ((b & 0x1F) << 6) | (utf8[i + 1] & 0x3F);
            n = 2;
        }
        const char hi = static_cast<char>(cp >> 8), lo = static_cast<char>(cp & 0xFF);
        out += big_endian ? std::string{hi, lo} : std::string{lo, hi};
        i += n;
    }
    return out;
}

// What the author wrote is what the database stores, read back through a
// UTF8 connection; a text the connection cannot take runs nothing.
TEST_F(CliTest, ScriptEncodingsStoreWhatTheAuthorWrote) {
    MakeTables();
    const std::string connect = "SET NAMES UTF8;\nCONNECT '" + db_ + "' USER 'SYSDBA';\n";
    WriteBytes(dir_ / "scripts/in8.sql", "\xEF\xBB\xBFinsert into t values (11, 'Вход8');\n");
    WriteBytes(dir_ / "scripts/in16.sql", Utf16("insert into t values (12, 'Вход16');\n", true));
    struct Case {
        const char* name;
        std::string bytes;
        int code;
        const char* note;               // on stderr ("": none)
        std::vector<std::string> rows;  // "id:octet_length:text" afterwards
        const char* protocol = "";      // in Result.txt
    } cases[] = {
        {"utf8.sql",
         "insert into t values (1, 'Привет2');\ncommit;\n",
         0,
         "read as UTF-8, converted to Windows-1251",
         {"1:7:Привет2"}},
        {"mark.sql", "\xEF\xBB\xBFinsert into t values (2, 'Ёж');\n", 0, "read as UTF-8", {"2:2:Ёж"}},
        {"le.sql", Utf16("insert into t values (3, 'Щука');\n", false), 0, "read as UTF-16LE", {"3:4:Щука"}},
        {"be.sql", Utf16("insert into t values (4, 'Щи');\n", true), 0, "read as UTF-16BE", {"4:2:Щи"}},
        {"cp1251.sql", "insert into t values (5, 'Привет');\n"_cp, 0, "", {"5:6:Привет"}},
        {"outside.sql",
         "insert into t values (6, 'ok');\ninsert into t values (7, 'a中b');\n",
         1,
         "line 2, column 28: the character U+4E2D has no Windows-1251 form",
         {}},
        {"own.sql", connect + "insert into t values (8, 'Ёжик');\ncommit;\n", 0, "", {"8:4:Ёжик"}},
        {"own-bad.sql",
         connect + "insert into t values (9, 'ok');\ninsert into t values (10, 'x\xC0y');\n",
         1,
         "",
         {},
         "line 4, column 29: the byte 0xC0 is not a character of the character set UTF8"},
        {"input.sql",
         "input '" + dir_ / "scripts/in8.sql';\ninput '" + dir_ / "scripts/in16.sql';\n",
         0,
         "",
         {"11:5:Вход8", "12:6:Вход16"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessResult r = Run({"run", "-d", db_, Script(c.name, c.bytes)});
        EXPECT_EQ(r.code, c.code) << r.out << r.err;
        EXPECT_TRUE(*c.note ? Contains(r.err, c.note) : !Contains(r.err, "read as")) << r.err;
        EXPECT_TRUE(Contains(ReadBytes(dir_ / "scripts/Result.txt"), c.protocol));
        std::string expected, sql = "select id || ':' || octet_length(name) || ':' || name from t where id ";
        for (const std::string& row : c.rows)
            expected += row + "\n";
        if (c.rows.empty()) {
            sql += "in (6, 7, 9, 10)";
        } else {
            const std::string id = c.rows[0].substr(0, c.rows[0].find(':'));
            sql += "between " + id + " and " + id + " + 1";
        }
        EXPECT_EQ(Utf8Rows(sql), expected);
    }
}

// --- Version query -------------------------------------------------------

TEST_F(CliTest, VersionPrintsTheRecordedVersionAndCleansUp) {
    MakeTables();
    ProcessResult r = Run({"version", "-d", db_});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "2.4.1\n");
    EXPECT_FALSE(fs::exists(dir_ / "DBVersion.out"));
}

TEST_F(CliTest, VersionWithoutDbVersionTableFailsWithTheWindowsTextAndTheReason) {
    ProcessResult r = Run({"version", "-d", db_});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "Версию БД получить не удалось\n");
    EXPECT_TRUE(Contains(r.err, "DB_VERSION")) << r.err;
}

TEST_F(CliTest, VersionRefusesAResultFileLeftInTheCurrentDirectory) {
    MakeTables();
    WriteBytes(dir_ / "DBVersion.out", "9.9.9");
    ProcessResult r = Run({"version", "-d", db_});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Contains(r.err, "DBVersion.out already exists")) << r.err;
    EXPECT_EQ(ReadBytes(dir_ / "DBVersion.out"), "9.9.9");
}

// --- Database aliases ----------------------------------------------------

TEST_F(CliTest, AliasOfTheSettingsFileNamesTheDatabaseInAnyLetterCase) {
    MakeTables();
    WriteBytes(dir_ / "my.ini",
               "[System]\r\nDatabase=/nowhere.fdb\r\n[Databases]\r\n"_cp + "Демо="_cp + db_ + "\r\n");
    ProcessResult r = Run({"version", "-d", "дЕМО", "--settings", dir_ / "my.ini"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "2.4.1\n");
}

TEST_F(CliTest, SettingsBesideTheRunnerAreReadByDefault) {
    MakeTables();
    fs::create_directory(dir_ / "bin");
    fs::copy_file(TALLO_RUN_PROGRAM, dir_ / "bin/tallo-run");
    WriteBytes(dir_ / "bin/Tallo-3.ini", "[Databases]\nmain=" + db_ + "\n");
    ProcessResult r = RunProcess({dir_ / "bin/tallo-run", "version", "-d", "MAIN"}, Env(dir_.path()));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "2.4.1\n");
}

TEST_F(CliTest, AnythingThatIsNoAliasIsUsedAsWritten) {
    MakeTables();
    WriteBytes(dir_ / "my.ini", "[Databases]\nother=/nowhere.fdb\n");
    ProcessResult r = Run({"version", "-d", db_, "-s", dir_ / "my.ini"});
    EXPECT_EQ(r.code, 0) << r.err;
}

// --- Bad input: exit code 2 and a message that names the fault -----------

struct BadInput {
    std::vector<std::string> args;
    std::string message;
};

TEST_F(CliTest, BadInputsExitTwoWithAClearMessageAndNothingOnStdout) {
    WriteBytes(dir_ / "not-an-engine.dll", "text");
    std::string script = Script("a.sql", "select 1 from rdb$database;\n");
    const std::vector<BadInput> cases = {
        {{}, "no command given"},
        {{"launch"}, "unknown command 'launch'"},
        {{"run", "-d", db_, "--verbose", script}, "unknown option '--verbose'"},
        {{"run", script}, "needs --database"},
        {{"run", "-d"}, "option -d needs a value"},
        {{"run", "-d", db_}, "exactly one SCRIPT"},
        {{"run", "-d", db_, script, script}, "exactly one SCRIPT"},
        {{"run", "-d", db_, dir_ / "scripts/missing.sql"}, "script file not found"},
        {{"run", "-d", db_, dir_ / "scripts"}, "script file not found"},
        {{"run", "-d", db_, "-s", dir_ / "missing.ini", script}, "settings file not found"},
        {{"run", "-d", db_, "-e", dir_ / "missing.dll", script}, "script engine not found"},
        {{"run", "-d", db_, "-e", dir_ / "not-an-engine.dll", script}, "cannot use the script engine"},
        {{"run", "-d", db_, "--password=x", script}, "not taken from the command line"},
        {{"version", "-d", db_, "extra"}, "takes no operands"},
        {{"pack"}, "exactly one FILE"},
        {{"pack", "-d", db_, script}, "takes no --database"},
        {{"pack", dir_ / "missing.sql"}, "File not found"},
        {{"unpack", dir_ / "missing.Zql"}, "Cannot open file"},
    };
    for (const auto& c : cases) {
        ProcessResult r = Run(c.args);
        std::string shown;
        for (const auto& a : c.args)
            shown += a + " ";
        EXPECT_EQ(r.code, 2) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_TRUE(Contains(r.err, c.message)) << shown << "\n" << r.err;
        EXPECT_TRUE(r.err.rfind("tallo-run: ", 0) == 0) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "scripts/Result.txt"));
}

TEST_F(CliTest, PasswordOptionIsRefusedWithoutEchoingIt) {
    ProcessResult r = Run({"run", "-d", db_, "-p", "Secret123", Script("a.sql", "commit;\n")});
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(Contains(r.err, "Secret123"));
}

TEST_F(CliTest, UnreadableSettingsFileIsAFileError) {
    WriteBytes(dir_ / "Tallo-3.ini", "[Databases]\nx=" + db_ + "\n");
    ::chmod((dir_ / "Tallo-3.ini").c_str(), 0000);
    std::string script = Script("a.sql", "commit;\n");
    ProcessResult r = RunUnprivileged({"run", "-d", "x", "--settings", dir_ / "Tallo-3.ini", script});
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_TRUE(Contains(r.err, "Cannot open file \"" + (dir_ / "Tallo-3.ini") + "\"")) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "scripts/Result.txt"));
}

TEST_F(CliTest, MissingEngineIsAFileErrorThatSaysWhereItLooked) {
    // A runner with no engine beside it, started where there is none either.
    TempDir elsewhere;
    fs::copy_file(TALLO_RUN_PROGRAM, elsewhere / "tallo-run");
    ProcessResult r = RunProcess({elsewhere / "tallo-run", "run", "-d", db_, Script("a.sql", "commit;\n")},
                                 Env(elsewhere.path()));
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(Contains(r.err, "IBEScript.dll not found beside tallo-run nor in the current directory"))
        << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "scripts/Result.txt"));
}

TEST_F(CliTest, PlantedEngineInTheCurrentDirectoryIsNotLoadedWhenOneIsBesideTheRunner) {
    // dir_ holds the real engine beside a copy of the runner; a probe that
    // would write out what it is handed is planted in the current directory.
    MakeTables();
    fs::copy_file(TALLO_RUN_PROGRAM, dir_ / "tallo-run");
    TempDir cwd;
    fs::copy_file(TALLO_PROBE_ENGINE, cwd / "IBEScript.dll");
    ProcessOptions o = Env(cwd.path());
    o.env["TALLO_PASSWORD"] = "Leak";
    o.env["TALLO_PROBE_OUT"] = cwd / "handed.txt";
    std::string script = Script("a.sql", "insert into t values (1, 'x');\n");
    ProcessResult r = RunProcess({dir_ / "tallo-run", "run", "-d", db_, script}, o);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(cwd / "handed.txt"));
    // Without an engine beside the runner the current directory's is used,
    // and --engine names one explicitly.
    fs::remove(dir_ / "IBEScript.dll");
    r = RunProcess({dir_ / "tallo-run", "run", "-d", db_, script}, o);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(ReadBytes(cwd / "handed.txt"), "PASSWORD 'Leak'"));
    fs::remove(cwd / "handed.txt");
    r = RunProcess({dir_ / "tallo-run", "run", "-e", TALLO_ENGINE_LIBRARY, "-d", db_, script}, o);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(cwd / "handed.txt"));
}

TEST(CliHelp, HelpAnywhereShowsUsageAndExitsZero) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--help"}, {"-h"}, {"run", "--help"}}) {
        ProcessResult r = Tool(args, Env("/"));
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(Contains(r.out, "tallo-run run --database DB")) << r.out;
        EXPECT_TRUE(Contains(r.out, "TALLO_PASSWORD"));
    }
}

TEST(CliHelp, VersionAnywhereShowsTheBuildsVersionAndHelpWins) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const std::string version = std::string("tallo-run ") + TALLO_VERSION + "\n";
    const std::vector<Case> cases = {
        {{"--version"}, version},
        {{"run", "-d", "x.fdb", "--version"}, version},
        {{"--version", "--help"}, "Usage:"},
    };
    for (const auto& c : cases) {
        ProcessResult r = Tool(c.args, Env("/"));
        EXPECT_EQ(r.code, 0) << c.args[0];
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
    }
    // After "--" it is an operand like any other.
    EXPECT_EQ(Tool({"pack", "--", "--version"}, Env("/")).code, 2);
}

// --- The password: never in argv; environment or a prompt without echo --

class PasswordTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(TALLO_PROBE_ENGINE, dir_ / "IBEScript.dll");
        WriteBytes(dir_ / "a.sql", "select 1 from rdb$database;\n");
    }
    ProcessOptions Probe() {
        ProcessOptions o = Env(dir_.path());
        o.env["TALLO_PROBE_OUT"] = dir_ / "handed.txt";
        return o;
    }
    std::string Handed() { return ReadBytes(dir_ / "handed.txt"); }
    TempDir dir_;
};

TEST_F(PasswordTest, EnvironmentPasswordReachesTheHeaderInWindows1251) {
    ProcessOptions o = Probe();
    o.env["TALLO_PASSWORD"] = "пароль'1";
    ProcessResult r = Tool({"run", "-e", "IBEScript.dll", "-d", "/db/x.fdb", "-u", "иванов", "a.sql"}, o);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(Handed(),
              "SET NAMES WIN1251; CONNECT '/db/x.fdb' USER 'ИВАНОВ' PASSWORD 'пароль''1'; "
              "select 1 from rdb$database;\n"_cp);
    EXPECT_FALSE(Contains(r.err, "Password"));
}

TEST_F(PasswordTest, WithoutTerminalOrEnvironmentThePasswordIsEmptyAndNothingIsAsked) {
    ProcessResult r = Tool({"run", "-e", "IBEScript.dll", "-d", "/db/x.fdb", "a.sql"}, Probe());
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(Handed(), "USER 'SYSDBA' PASSWORD ''; "));
    EXPECT_EQ(r.err, "");
}

TEST_F(PasswordTest, PromptOnATerminalDoesNotEchoTheTypedPassword) {
    ProcessResult r =
        RunOnTerminal({TALLO_RUN_PROGRAM, "run", "-e", "IBEScript.dll", "-d", "/db/x.fdb", "a.sql"}, Probe(),
                      "Password: ", "Typed-Secret\n");
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(Contains(Handed(), "PASSWORD 'Typed-Secret'; ")) << Handed();
    // The engine's echo of the whole text comes back as a MSG: line; cut it
    // off and look at what the terminal showed before it.
    std::string before = r.out.substr(0, r.out.find("Скрипт"));
    EXPECT_TRUE(Contains(before, "Password: "));
    EXPECT_FALSE(Contains(before, "Typed-Secret")) << before;
}

TEST_F(CliTest, PromptedRunOnATerminalShowsProgressOnOneLine) {
    std::string script =
        Script("a.sql", "create table p (id integer);\ncommit;\ninsert into p values (1);\n");
    ProcessResult r =
        RunOnTerminal({TALLO_RUN_PROGRAM, "run", "-d", db_, script}, Env(dir_.path()), "Password: ", "x\n");
    EXPECT_EQ(r.code, 0) << r.out;
    // Status texts rewrite one line in place and the line is cleared before
    // the outcome is printed.
    EXPECT_TRUE(Contains(r.out, "\r\033[K")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\r\033[K" + kSuccess.substr(0, kSuccess.size() - 1))) << r.out;
}

// --- Pack and unpack -----------------------------------------------------

struct NameCase {
    std::string source, packed, unpacked;
};

TEST(CliPacking, RoundTripsFollowTheNameRulesAndKeepTheBytes) {
    TempDir dir;
    const std::vector<NameCase> cases = {
        {"upd.sql", "upd.Zql", "upd.sql"},
        {"upd.txt", "upd.Zxt", "upd.txt"},
        {"upd.SQL", "upd.ZQL", "upd.sql"},
        {"upd.ini", "upd.Zni", "upd.txt"},
        {"upd.s", "upd.Z", "upd.txt"},
        {"upd", "upd.Z", "upd.txt"},
        {"dir.old/upd", "dir.old/upd.Z", "dir.old/upd.txt"},
    };
    fs::create_directory(dir / "dir.old");
    std::string content = "insert into t values ('Тверь');\r\n"_cp + std::string(5000, 'x');
    for (const auto& c : cases) {
        WriteBytes(dir / c.source, content);
        ProcessResult p = Tool({"pack", c.source}, Env(dir.path()));
        ASSERT_EQ(p.code, 0) << c.source << p.err;
        EXPECT_EQ(p.out, c.packed + "\n");
        std::string packed = ReadBytes(dir / c.packed);
        EXPECT_EQ(packed.substr(0, 2), "\x78\xDA") << c.packed;
        fs::remove(dir / c.source);
        ProcessResult u = Tool({"unpack", c.packed}, Env(dir.path()));
        ASSERT_EQ(u.code, 0) << c.packed << u.err;
        EXPECT_EQ(u.out, c.unpacked + "\n");
        EXPECT_EQ(ReadBytes(dir / c.unpacked), content) << c.unpacked;
        fs::remove(dir / c.packed);
        fs::remove(dir / c.unpacked);
    }
}

TEST(CliPacking, PackingOntoItselfReplacesTheFileAndLeavesNoBackup) {
    TempDir dir;
    WriteBytes(dir / "x.Zql", "select 1;");
    ProcessResult p = Tool({"pack", "x.Zql"}, Env(dir.path()));
    ASSERT_EQ(p.code, 0) << p.err;
    EXPECT_EQ(ReadBytes(dir / "x.Zql").substr(0, 2), "\x78\xDA");
    EXPECT_FALSE(fs::exists(dir / "x.bak"));
    ASSERT_EQ(Tool({"unpack", "x.Zql"}, Env(dir.path())).code, 0);
    EXPECT_EQ(ReadBytes(dir / "x.sql"), "select 1;");
}

TEST(CliPacking, CorruptPackedFileIsAFileErrorAndWritesNothing) {
    TempDir dir;
    WriteBytes(dir / "bad.Zql", "this is not zlib");
    ProcessResult u = Tool({"unpack", "bad.Zql"}, Env(dir.path()));
    EXPECT_EQ(u.code, 2);
    EXPECT_TRUE(Contains(u.err, "cannot unpack bad.Zql: Error")) << u.err;
    EXPECT_FALSE(fs::exists(dir / "bad.sql"));
}

}  // namespace
}  // namespace tallo::testing
