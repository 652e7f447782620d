// The run command, the version query and the engine binding, driven through
// the scripted window with in-process engine entries.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "base/errors.h"
#include "packing/zip_file.h"
#include "script/engine_binding.h"
#include "script/protocol_list.h"
#include "script/run.h"
#include "script/run_state.h"
#include "script/unfinished_protocol.h"
#include "tests/support/fake_window_services.h"
#include "tests/support/held_file.h"
#include "tests/support/temp_dir.h"
#include "text/script_encoding.h"
#include "text/win1251.h"

using namespace tallo;
using namespace tallo::script;
using cp1251::operator""_cp;
using tallo::testing::FakeWindowServices;
using tallo::testing::ReadBytes;
using tallo::testing::TempDir;
using tallo::testing::WriteBytes;

namespace {

// What the in-process engine does when called: set by each test.
std::function<void(const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback)> g_engine;
std::string g_received;

std::int32_t TALLO_STDCALL FakeEntry(const char* text, TalloEngineCallback on_error,
                                     TalloEngineCallback on_status, TalloEngineCallback on_statement) {
    g_received = text;
    if (g_engine)
        g_engine(text, on_error, on_status, on_statement);
    return 0;
}

// The engine's SetScriptFolder calls ("<none>" for null) and its entry's
// calls ("call"), in order.
std::vector<std::string> g_folder_calls;

void TALLO_STDCALL FakeSetScriptFolder(const char* folder) {
    g_folder_calls.push_back(folder != nullptr ? folder : "<none>");
}

std::string PackedBytes(const std::string& content) {
    MemoryStream packed;
    PackAll(content.data(), content.size(), packed);
    return std::string(packed.Data(), packed.Size());
}

class ScriptRun : public ::testing::Test {
  protected:
    void SetUp() override {
        g_engine = nullptr;
        g_received.clear();
        engine.entry = &FakeEntry;
        window.SetText(Field::eDB, "/data/main.fdb");
        window.SetText(Field::ePassw, "masterkey");
    }

    void UseScript(const std::string& name, const std::string& content) {
        WriteBytes(dir / name, content);
        window.SetText(Field::eScript, dir / name);
    }

    TempDir dir;
    tallo::testing::CurrentFolder in_dir{dir.path()};
    FakeWindowServices window;
    EngineBinding engine;
    std::string script_text;
};

}  // namespace

TEST(RunState, ExistsFromUnitStartUpEmptyAndIsOneObject) {
    RunState& state = TheRunState();
    EXPECT_TRUE(state.ProtocolLines.empty());
    EXPECT_FALSE(state.ScriptFailed);
    EXPECT_EQ(&state, &TheRunState());
}

TEST(ConnectHeader, QuotesEveryOperand) {
    EXPECT_EQ(ConnectHeader("/db/o'hara.fdb", "SYSDBA", ""),
              "SET NAMES WIN1251; CONNECT '/db/o''hara.fdb' USER 'SYSDBA' PASSWORD ''; ");
    EXPECT_EQ(ConnectHeader("h:/x", "U", "p'w"),
              "SET NAMES WIN1251; CONNECT 'h:/x' USER 'U' PASSWORD 'p''w'; ");
}

TEST(ProtocolNames, FolderAndPackedFollowTheScriptName) {
    // Script -> its protocol, in the script's folder.
    const std::pair<const char*, const char*> names[] = {
        {"C:\\scripts\\upd.sql", "C:\\scripts\\Result.txt"},
        {"/srv/upd.ZQL", "/srv/Result.Zxt"},
        {"upd.zql", "Result.Zxt"},
        {"/srv/dir.zql/upd", "/srv/dir.zql/Result.txt"},
    };
    for (const auto& [script, protocol] : names)
        EXPECT_EQ(ProtocolFileFor(script), protocol);
}

TEST_F(ScriptRun, CallbacksFillTheRunState) {
    g_engine = [](const char*, TalloEngineCallback err, TalloEngineCallback status,
                  TalloEngineCallback stmt) {
        EXPECT_EQ(stmt("SET NAMES WIN1251", ""), 0);
        EXPECT_EQ(stmt("CONNECT '/data/main.fdb' USER 'SYSDBA' PASSWORD '****'", ""), 0);
        EXPECT_EQ(stmt("RECONNECTED", ""), 0);                       // capitals anywhere: not logged
        EXPECT_EQ(stmt("insert into t values ('connect')", ""), 0);  // lower case: logged
        EXPECT_EQ(status("ignored", "Statement 1 of 2"), 0);
        EXPECT_EQ(err("mSg:Check the totals", "line 3"), 0);
        EXPECT_EQ(err("Table unknown", "line 4"), 0);
        EXPECT_EQ(err(nullptr, nullptr), 0);
        EXPECT_EQ(stmt(nullptr, nullptr), 0);
    };
    UseScript("upd.sql", "select 1 from rdb$database;");
    aExecScriptExecute(window, engine, script_text);

    const RunState& state = TheRunState();
    ASSERT_EQ(state.ProtocolLines.size(), 6u);
    EXPECT_EQ(
        state.ProtocolLines.Text(),
        "SET NAMES WIN1251\r\ninsert into t values ('connect')\r\nError: mSg:Check the totals\r\nline 3\r\n"
        "Error: Table unknown\r\nline 4\r\nError: \r\n\r\n\r\n");
    EXPECT_TRUE(state.ScriptFailed);
    EXPECT_EQ(state.ScriptMessages, "\r\nCheck the totals");
    EXPECT_GE(window.processed, 1);
    EXPECT_EQ(FailureText(),
              "Скрипт выполнен в ошибками!!!\r\nРекомендуется восстановить базу из резервной копии"_cp);
    EXPECT_EQ(window.Text(Field::Panel3), FailureText() + "\r\nCheck the totals");
    ASSERT_EQ(window.information.size(), 1u);
    EXPECT_EQ(window.information[0], FailureText() + "\r\nCheck the totals");
    EXPECT_EQ(
        ReadBytes(dir / "Result.txt"),
        "SET NAMES WIN1251\r\ninsert into t values ('connect')\r\nError: mSg:Check the totals\r\nline 3\r\n"
        "Error: Table unknown\r\nline 4\r\nError: \r\n\r\n\r\n");
}

TEST_F(ScriptRun, CleanRunHandsHeaderAndScriptWithTheWindowDisabled) {
    std::string script = "create table t (id integer);\r\n-- \xEF\xF0\xE8\xEC\xE5\xF0\r\n";
    UseScript("upd.sql", script);
    window.SetText(Field::ePassw, "");
    g_engine = [this](const char*, TalloEngineCallback, TalloEngineCallback status,
                      TalloEngineCallback stmt) {
        EXPECT_FALSE(window.window_enabled);
        EXPECT_EQ(window.cursor, kCursorSqlWait);
        status("", "working");
        stmt("create table t (id integer)", "");
    };
    aExecScriptExecute(window, engine, script_text);
    EXPECT_EQ(g_received, "SET NAMES WIN1251; CONNECT '/data/main.fdb' USER 'SYSDBA' PASSWORD ''; " + script);
    EXPECT_EQ(script_text, g_received);
    EXPECT_TRUE(window.window_enabled);
    EXPECT_EQ(window.cursor, kCursorDefault);
    EXPECT_EQ(window.Text(Field::Panel3), "Скрипт выполнен успешно!"_cp);
    EXPECT_EQ(window.information, std::vector<std::string>{"Скрипт выполнен успешно!"_cp});
    EXPECT_EQ(ReadBytes(dir / "Result.txt"), "create table t (id integer)\r\n");
    // Order: disable and wait cursor before the engine, restore before the report.
    std::vector<std::string> expected = {"disable", "cursor:-17", "status:working", "enable", "cursor:0"};
    std::vector<std::string> head(window.log.begin(), window.log.begin() + 5);
    EXPECT_EQ(head, expected);
}

// A UTF-8 script (here packed) reaches the engine as Windows-1251, and the
// status line says so before the engine starts; one that sets its own
// character set keeps its bytes; an unconvertible character runs nothing.
TEST_F(ScriptRun, Utf8ScriptsReachTheEngineInTheConnectionsCharacterSet) {
    std::string status_at_start;
    g_engine = [&](const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback) {
        status_at_start = window.Text(Field::Panel3);
    };
    const std::string header = ConnectHeader("/data/main.fdb", "SYSDBA", "masterkey");
    WriteBytes(dir / "u.zql", PackedBytes("\xEF\xBB\xBFinsert into t values ('Привет');\n"));
    window.SetText(Field::eScript, dir / "u.zql");
    aExecScriptExecute(window, engine, script_text);
    EXPECT_EQ(g_received, header + "insert into t values ('Привет');\n"_cp);
    EXPECT_EQ(status_at_start, "Script read as UTF-8, converted to Windows-1251");
    EXPECT_EQ(TheRunState().ScriptReadAs, "read as UTF-8, converted to Windows-1251");

    const std::string own = "SET NAMES UTF8;\nCONNECT 'x';\ninsert into t values ('Привет');\n";
    UseScript("own.sql", own);
    aExecScriptExecute(window, engine, script_text);
    EXPECT_EQ(g_received, header + own);
    EXPECT_EQ(TheRunState().ScriptReadAs, "");

    g_received.clear();
    UseScript("far.sql", "select 1;\nselect '日本';\n");
    EXPECT_THROW(aExecScriptExecute(window, engine, script_text), script_encoding::EncodingFailure);
    EXPECT_TRUE(g_received.empty());
}

TEST_F(ScriptRun, MissingOrEmptyScriptEndsSilently) {
    window.SetText(Field::eScript, dir / "none.sql");
    aExecScriptExecute(window, engine, script_text);
    UseScript("empty.sql", "");
    aExecScriptExecute(window, engine, script_text);
    window.SetText(Field::eScript, dir.path());  // a folder is no script
    aExecScriptExecute(window, engine, script_text);
    EXPECT_TRUE(g_received.empty());
    EXPECT_TRUE(window.log.empty());
    EXPECT_FALSE(platform::FileExists(dir / "Result.txt"));
}

TEST_F(ScriptRun, ProtocolGrowsBesideTheScriptAndGivesWayToTheSavedOne) {
    // Plain and packed scripts: while the engine works, the entries reach
    // the disk within the flush interval; at the end only Result.txt /
    // Result.Zxt is left.
    for (const char* name : {"upd.sql", "upd.zql"}) {
        std::string plain = "insert into t values (1);";
        UseScript(name, IsPackedScript(name) ? PackedBytes(plain) : plain);
        std::string during;
        g_engine = [&](const char*, TalloEngineCallback err, TalloEngineCallback, TalloEngineCallback stmt) {
            stmt("insert into t values (1)", "");
            err("Table unknown", "At line 1");
            std::this_thread::sleep_for(UnfinishedProtocol::kFlushInterval * 3);
            during = ReadBytes(dir / "Result.unfinished.txt");
        };
        aExecScriptExecute(window, engine, script_text);
        EXPECT_EQ(during, "insert into t values (1)\r\nError: Table unknown\r\nAt line 1\r\n") << name;
        EXPECT_FALSE(platform::FileExists(dir / "Result.unfinished.txt")) << name;
        EXPECT_EQ(window.information.size(), 1u) << "no notice: " << name;
        window.information.clear();
    }
    EXPECT_EQ(UnpackFileToText(dir / "Result.Zxt"), ReadBytes(dir / "Result.txt"));
}

TEST_F(ScriptRun, HostKilledMidRunLosesAtMostTheLastTenthOfASecond) {
    // The run, in a child, makes a protocol line every 2 ms and is killed
    // 400 ms in: every line made until 100 ms before (and some slack for a
    // busy machine) is on disk.
    UseScript("upd.sql", "insert into t values (1);");
    int started[2];
    ASSERT_EQ(::pipe(started), 0);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        g_engine = [&](const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback stmt) {
            const auto start = std::chrono::steady_clock::now();
            [[maybe_unused]] auto w = ::write(started[1], "s", 1);
            for (int i = 0;; ++i) {
                std::this_thread::sleep_until(start + std::chrono::milliseconds(2 * i));
                stmt(("line " + std::to_string(i)).c_str(), "");
            }
        };
        aExecScriptExecute(window, engine, script_text);
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(started[0], &byte, 1), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    const std::string kept = ReadBytes(dir / "Result.unfinished.txt");
    std::string expected;
    for (int i = 0; i < 100; ++i)  // the lines of the first 200 ms
        expected += "line " + std::to_string(i) + "\r\n";
    EXPECT_EQ(kept.substr(0, expected.size()), expected) << kept.size() << " bytes kept";
}

TEST_F(ScriptRun, PackedScriptIsUnpackedAndItsProtocolPacked) {
    std::string script = "insert into t values (1);";
    WriteBytes(dir / "plain.sql", script);
    ASSERT_TRUE(PackFile(dir / "plain.sql", dir / "upd.ZQL"));
    window.SetText(Field::eScript, dir / "upd.ZQL");
    g_engine = [](const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback stmt) {
        stmt("insert into t values (1)", "");
    };
    aExecScriptExecute(window, engine, script_text);
    EXPECT_EQ(g_received, ConnectHeader("/data/main.fdb", "SYSDBA", "masterkey") + script);
    EXPECT_FALSE(platform::FileExists(dir / "Result.txt"));
    EXPECT_EQ(UnpackFileToText(dir / "Result.Zxt"), "insert into t values (1)\r\n");
}

TEST_F(ScriptRun, EmptyPackedProtocolLeavesAnEarlierOneAlone) {
    std::string script = "commit;";
    WriteBytes(dir / "plain.sql", script);
    ASSERT_TRUE(PackFile(dir / "plain.sql", dir / "upd.zql"));
    WriteBytes(dir / "Result.Zxt", "earlier");
    window.SetText(Field::eScript, dir / "upd.zql");
    aExecScriptExecute(window, engine, script_text);
    EXPECT_EQ(ReadBytes(dir / "Result.Zxt"), "earlier");
    EXPECT_EQ(window.Text(Field::Panel3), SuccessText());
}

TEST_F(ScriptRun, RunWithoutEngineReportsFailureNotSuccess) {
    engine.entry = nullptr;
    UseScript("upd.sql", "create table t (id integer);");
    aExecScriptExecute(window, engine, script_text);
    EXPECT_TRUE(window.window_enabled);
    EXPECT_EQ(window.cursor, kCursorDefault);
    EXPECT_EQ(window.Text(Field::Panel3), FailureText());
    EXPECT_EQ(ReadBytes(dir / "Result.txt"), "Error: " + NoEngineText() + "\r\n\r\n");
}

TEST_F(ScriptRun, FailureOutOfTheEngineRestoresTheWindowAndSkipsTheReport) {
    UseScript("upd.sql", "select 1 from rdb$database;");
    g_engine = [](const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback) {
        throw std::runtime_error("engine blew up");
    };
    EXPECT_THROW(aExecScriptExecute(window, engine, script_text), std::runtime_error);
    EXPECT_TRUE(window.window_enabled);
    EXPECT_EQ(window.cursor, kCursorDefault);
    EXPECT_FALSE(EngineBusy());
    EXPECT_TRUE(window.information.empty());
    EXPECT_FALSE(platform::FileExists(dir / "Result.txt"));
}

// The window's current folder is its program's: the engine is told the
// script's folder, in full, for the run's call alone; the version query
// names none.
TEST_F(ScriptRun, EngineTakesInputNamesFromTheScriptsFolderForTheRunAlone) {
    engine.script_folder = &FakeSetScriptFolder;
    g_folder_calls.clear();
    std::filesystem::create_directory(dir / "sub");
    WriteBytes(dir / "sub/upd.sql", "input inc.sql;");
    window.SetText(Field::eScript, "sub/upd.sql");
    const std::string folder = std::filesystem::current_path().string() + "/sub/";
    g_engine = [](const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback) {
        g_folder_calls.push_back("call");
    };
    aExecScriptExecute(window, engine, script_text);
    DBVersionBitBtnClick(window, engine, script_text);
    EXPECT_EQ(g_folder_calls, (std::vector<std::string>{folder, "call", "<none>", "call"}));

    g_folder_calls.clear();
    g_engine = [](const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback) {
        throw std::runtime_error("engine blew up");
    };
    EXPECT_THROW(aExecScriptExecute(window, engine, script_text), std::runtime_error);
    EXPECT_EQ(g_folder_calls, (std::vector<std::string>{folder, "<none>"}));
}

TEST_F(ScriptRun, CommandsStartedDuringAnEngineCallAreHeldBack) {
    UseScript("upd.sql", "select 1 from rdb$database;");
    g_engine = [&](const char*, TalloEngineCallback, TalloEngineCallback status, TalloEngineCallback stmt) {
        window.on_process = [&] {
            DBVersionBitBtnClick(window, engine, script_text);
            aExecScriptExecute(window, engine, script_text);
        };
        EXPECT_TRUE(EngineBusy());
        stmt("select 1 from rdb$database", "");
        status("", "tick");
    };
    aExecScriptExecute(window, engine, script_text);
    window.on_process = nullptr;
    EXPECT_EQ(script_text.find("output"), std::string::npos);  // the text the engine read stayed intact
    EXPECT_EQ(TheRunState().ProtocolLines.Text(), "select 1 from rdb$database\r\n");
    EXPECT_EQ(window.information.size(), 1u);
    EXPECT_EQ(window.Text(Field::Panel3), SuccessText());
    // A direct second call of the binding is refused as well.
    WindowRunView view(window);
    g_engine = [&](const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback) {
        EXPECT_THROW(ExecProc(view, &FakeEntry, "x"), tallo::Failure);
    };
    ExecProc(view, &FakeEntry, "y");
    EXPECT_FALSE(EngineBusy());
}

TEST_F(ScriptRun, UnwritableProtocolAsksAgainOnYesAndEndsQuietlyOnNo) {
    UseScript("upd.sql", "commit;");
    ASSERT_EQ(::mkdir((dir / "Result.txt").c_str(), 0755), 0);  // a folder stands in the way
    window.answers = {true, true, false};
    aExecScriptExecute(window, engine, script_text);
    ASSERT_EQ(window.questions.size(), 3u);
    EXPECT_EQ(window.questions[0], "Не удается создать файл протокола выполнения скрипта "_cp + "'" +
                                       (dir / "Result.txt") + "'.\r\n" + "Попытаться еще раз?"_cp);
    EXPECT_EQ(window.Text(Field::Panel3), SuccessText());  // the report still comes
}

TEST_F(ScriptRun, UnwritablePackedProtocolAsksTheSameQuestion) {
    WriteBytes(dir / "plain.sql", "commit;");
    ASSERT_TRUE(PackFile(dir / "plain.sql", dir / "o'k.zql"));
    window.SetText(Field::eScript, dir / "o'k.zql");
    ASSERT_EQ(::mkdir((dir / "Result.Zxt").c_str(), 0755), 0);
    g_engine = [](const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback stmt) {
        stmt("commit", "");
    };
    window.answers = {true, false};
    aExecScriptExecute(window, engine, script_text);
    ASSERT_EQ(window.questions.size(), 2u);
    EXPECT_NE(window.questions[1].find("'" + (dir / "Result.Zxt") + "'."), std::string::npos);
}

TEST_F(ScriptRun, VersionQueryReadsAndDeletesTheOutputFile) {
    g_engine = [](const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback stmt) {
        stmt("output 'DBVersion.out' delimeter #9", "");
        WriteBytes("DBVersion.out", "3.2.1\r\n");
    };
    DBVersionBitBtnClick(window, engine, script_text);
    EXPECT_EQ(g_received,
              "SET NAMES WIN1251; CONNECT '/data/main.fdb' USER 'SYSDBA' PASSWORD 'masterkey'; "
              "output 'DBVersion.out' delimeter #9; select Version from db_version output; COMMIT WORK;");
    EXPECT_EQ(window.Text(Field::Panel3), "Версия БД: 3.2.1\r\n"_cp);
    EXPECT_FALSE(platform::FileExists(dir / "DBVersion.out"));
    EXPECT_TRUE(window.information.empty());
    EXPECT_TRUE(window.window_enabled);
}

TEST_F(ScriptRun, VersionQueryAbsorbsEveryFailure) {
    g_engine = [](const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback) {
        throw std::runtime_error("lost");
    };
    DBVersionBitBtnClick(window, engine, script_text);
    EXPECT_EQ(window.Text(Field::Panel3), "Версию БД получить не удалось"_cp);

    g_engine = [](const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback) {
        WriteBytes("DBVersion.out", "");  // an empty answer is no answer
    };
    DBVersionBitBtnClick(window, engine, script_text);
    EXPECT_EQ(window.Text(Field::Panel3), "Версию БД получить не удалось"_cp);
}

TEST_F(ScriptRun, VersionQueryWithoutEngineStillReadsALeftOverFile) {
    engine.entry = nullptr;
    WriteBytes(dir / "DBVersion.out", "left over");
    DBVersionBitBtnClick(window, engine, script_text);
    EXPECT_EQ(window.Text(Field::Panel3), "Версия БД: left over"_cp);
    EXPECT_FALSE(platform::FileExists(dir / "DBVersion.out"));
}

TEST_F(ScriptRun, VersionQueryReportsLeaveNoTraceInTheNextRun) {
    g_engine = [](const char*, TalloEngineCallback err, TalloEngineCallback, TalloEngineCallback stmt) {
        stmt("select Version from db_version output", "");
        err("MSG:Table unknown DB_VERSION", "line 1");
    };
    DBVersionBitBtnClick(window, engine, script_text);
    EXPECT_TRUE(TheRunState().ScriptFailed);  // the query adds to the state, which nobody reads

    g_engine = [](const char*, TalloEngineCallback, TalloEngineCallback, TalloEngineCallback stmt) {
        stmt("commit", "");
    };
    UseScript("upd.sql", "commit;");
    aExecScriptExecute(window, engine, script_text);
    EXPECT_EQ(ReadBytes(dir / "Result.txt"), "commit\r\n");
    EXPECT_EQ(window.Text(Field::Panel3), SuccessText());
}

TEST(EngineErrors, ThePlaceSplitsIntoLineFileSqlstateAndStatement) {
    const struct {
        std::string where;
        std::size_t line;
        std::string file, sqlstate, statement;
    } cases[] = {
        {"At line 12, SQLSTATE 42S02\r\ninsert into t values (1)", 12, "", "42S02",
         "insert into t values (1)"},
        {"At line 3 of file \"parts/a b.sql\"\r\ndrop table x", 3, "parts/a b.sql", "", "drop table x"},
        {"At line 7 of file \"x.sql\", SQLSTATE 23000\r\n", 7, "x.sql", "23000", ""},
        {"At the end of the script (commit)", 0, "", "", ""},
        {"", 0, "", "", ""},
    };
    for (const auto& c : cases) {
        const EngineError e = EngineErrorFrom("Table unknown", c.where);
        EXPECT_EQ(e.message, "Table unknown");
        EXPECT_EQ(e.where, c.where);
        EXPECT_EQ(e.line, c.line) << c.where;
        EXPECT_EQ(e.file, c.file) << c.where;
        EXPECT_EQ(e.sqlstate, c.sqlstate) << c.where;
        EXPECT_EQ(e.statement, c.statement) << c.where;
    }
}

TEST_F(ScriptRun, TheOutcomeCarriesTheRunAsData) {
    struct QuietView : RunView {
        std::vector<std::string> statuses;
        void ShowStatus(const std::string& text) override { statuses.push_back(text); }
        void ProcessMessages() override {}
        bool RetryProtocol(const std::string&) override { return false; }
    } view;
    g_engine = [](const char*, TalloEngineCallback err, TalloEngineCallback status,
                  TalloEngineCallback stmt) {
        stmt("create table t (id integer)", "");
        status("", "Statement 2 of 2");
        err("MSG:Check the totals", "At line 2, SQLSTATE 42000\r\nselect x");
        err("Table unknown", "At line 3\r\nselect y");
    };
    UseScript("upd.sql", "\xEF\xBB\xBFselect 'ё';");
    RunOutcome outcome = RunScript({"/db.fdb", "SYSDBA", "pw", dir / "upd.sql"}, engine, script_text, view);
    EXPECT_EQ(outcome.result, RunResult::Failed);
    EXPECT_EQ(outcome.messages, std::vector<std::string>{"Check the totals"});
    ASSERT_EQ(outcome.errors.size(), 2u);
    EXPECT_EQ(outcome.errors[0].sqlstate, "42000");
    EXPECT_EQ(outcome.errors[1].line, 3u);
    EXPECT_EQ(outcome.statements, 1u);
    EXPECT_EQ(TheRunState().ProtocolLines.size(), 3u);
    EXPECT_EQ(outcome.read_as, "read as UTF-8, converted to Windows-1251");
    EXPECT_EQ(outcome.protocol.result, ProtocolResult::Saved);
    EXPECT_EQ(outcome.protocol.file, dir / "Result.txt");
    EXPECT_TRUE(outcome.interrupted.empty());
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Script read as UTF-8, converted to Windows-1251",
                                                       "Statement 2 of 2"}));
    EXPECT_EQ(g_received.rfind("SET NAMES WIN1251; CONNECT '/db.fdb' USER 'SYSDBA' PASSWORD 'pw'; ", 0), 0u);
    EXPECT_TRUE(window.information.empty());  // the window is not involved

    // A missing script runs nothing.
    outcome = RunScript({"/db.fdb", "SYSDBA", "", dir / "none.sql"}, engine, script_text, view);
    EXPECT_EQ(outcome.result, RunResult::NotRun);
}

TEST(ProtocolFile, WritesTheTextAndEmptiesAnExistingFile) {
    TempDir dir;
    FakeWindowServices window;
    WindowRunView view(window);
    std::string text = "Скрипт выполнен\r\n"_cp;
    SaveProtocolFile(view, text, dir / "Result.txt", {}, false);
    EXPECT_EQ(ReadBytes(dir / "Result.txt"), text);
    SaveProtocolFile(view, "", dir / "Result.txt", {}, false);
    EXPECT_EQ(ReadBytes(dir / "Result.txt"), "");
    EXPECT_TRUE(window.questions.empty());
}

TEST(ProtocolFile, QuestionNamesTheFileQuoted) {
    std::string expected =
        "Не удается создать файл протокола выполнения скрипта 'C:\\it''s\\Result.txt'."_cp + "\r\n" +
        "Попытаться еще раз?"_cp;
    EXPECT_EQ(ProtocolRetryQuestion("C:\\it's\\Result.txt"), expected);
    // A file system name in UTF-8 is shown as Windows-1251 text.
    EXPECT_NE(ProtocolRetryQuestion("/\xD0\x91/Result.txt").find("'/\xC1/Result.txt'."), std::string::npos);
}

TEST_F(ScriptRun, TheOutcomeTellsWhatBecameOfTheProtocol) {
    struct DecliningView : RunView {
        void ShowStatus(const std::string&) override {}
        void ProcessMessages() override {}
        bool RetryProtocol(const std::string&) override { return false; }
    } view;
    platform::File holder;  // another process's hold on the protocol file
    const struct {
        const char* name;
        const char* script;
        std::function<void()> prepare;  // what stands where the protocol goes
        ProtocolResult expected;
    } cases[] = {
        {"empty script", "", [] {}, ProtocolResult::None},
        {"file held without sharing", "commit;",
         [&] {
             WriteBytes(dir / "Result.txt", "previous");
             holder = tallo::testing::HoldFile(dir / "Result.txt", platform::Access::ReadWrite,
                                               platform::Share::None);
         },
         ProtocolResult::Declined},
        {"folder in the way", "commit;", [&] { std::filesystem::create_directories(dir / "Result.txt/in"); },
         ProtocolResult::Declined},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        holder = {};
        std::filesystem::remove_all(dir / "Result.txt");
        c.prepare();
        UseScript("upd.sql", c.script);
        const RunOutcome outcome =
            RunScript({"/db.fdb", "SYSDBA", "pw", dir / "upd.sql"}, engine, script_text, view);
        EXPECT_EQ(outcome.protocol.result, c.expected);
        EXPECT_TRUE(outcome.protocol.file.empty());
        EXPECT_TRUE(outcome.protocol.failure.empty());
    }
}

// A protocol past its memory share goes on in a temporary file; one that
// cannot be made (a missing temporary folder) keeps everything in memory.
// Either way the saved file, plain or packed, holds every entry.
TEST(ProtocolFile, ALongProtocolIsSavedWholeWhereverItWasKept) {
    for (const bool temporary_folder_exists : {true, false}) {
        TempDir dir;
        const char* old = std::getenv("TMPDIR");
        const std::string saved = old ? old : "";
        setenv("TMPDIR", (dir / (temporary_folder_exists ? "" : "missing")).c_str(), 1);
        ProtocolList lines(64);
        std::string expected;
        for (int i = 0; i < 1000; ++i) {
            const std::string entry = i % 7 == 0
                                          ? "Error: " + std::to_string(i) + "\r\nAt line " + std::to_string(i)
                                          : "insert into t values (" + std::to_string(i) + ")";
            lines.push_back(entry);
            expected += entry + "\r\n";
        }
        old ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR");
        EXPECT_EQ(lines.size(), 1000u);
        EXPECT_EQ(lines.bytes(), expected.size());
        EXPECT_EQ(lines.Text(), expected);
        FakeWindowServices window;
        WindowRunView view(window);
        const auto source = [&lines] { return lines.Pieces(); };
        ASSERT_TRUE(SaveProtocolFile(view, source, dir / "Result.txt", {}, false));
        EXPECT_EQ(ReadBytes(dir / "Result.txt"), expected);
        ASSERT_TRUE(SaveProtocolFile(view, source, dir / "Result.Zxt", {}, true));
        EXPECT_EQ(UnpackFileToText(dir / "Result.Zxt"), expected);
    }
}

TEST(ProtocolFile, MissingFolderAsksOnEachYesAndNoEndsQuietly) {
    TempDir dir;
    FakeWindowServices window;
    WindowRunView view(window);
    window.answers = {true, true, false};
    std::string name = dir / "missing/Result.txt";
    SaveProtocolFile(view, "protocol", name, {}, false);
    ASSERT_EQ(window.questions.size(), 3u);
    for (const auto& q : window.questions)
        EXPECT_EQ(q, ProtocolRetryQuestion(name));
    EXPECT_TRUE(window.answers.empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_TRUE(window.errors.empty());
    EXPECT_TRUE(window.information.empty());
}

TEST(ProtocolFile, YesAfterTheFolderAppearsWritesTheFile) {
    TempDir dir;
    struct MakingFolder : FakeWindowServices {
        std::string folder;
        bool AskErrorYesNo(const std::string& text) override {
            ::mkdir(folder.c_str(), 0777);
            return FakeWindowServices::AskErrorYesNo(text);
        }
    } window;
    WindowRunView view(window);
    window.folder = dir / "later";
    window.answers = {true};
    SaveProtocolFile(view, "done", dir / "later/Result.txt", {}, false);
    EXPECT_EQ(window.questions.size(), 1u);
    EXPECT_EQ(ReadBytes(dir / "later/Result.txt"), "done");
}

TEST(ProtocolFile, NoLeavesAnExistingFileAsItWas) {
    TempDir dir;
    WriteBytes(dir / "Result.txt", "previous run");
    auto holder =
        tallo::testing::HoldFile(dir / "Result.txt", platform::Access::ReadWrite, platform::Share::None);
    ASSERT_TRUE(holder.IsOpen());
    FakeWindowServices window;
    WindowRunView view(window);
    window.answers = {false};
    SaveProtocolFile(view, "new run", dir / "Result.txt", {}, false);
    EXPECT_EQ(window.questions.size(), 1u);
    int error = 0;
    holder.Close(&error);
    EXPECT_EQ(ReadBytes(dir / "Result.txt"), "previous run");
}
