// Every script under corpus/<theme>/ runs through isql-fb and through the
// built engine library (dlopen, as the tool loads it) on two copies of one
// fresh embedded database. Each must fail the same number of statements and
// leave the same database: the metadata as `isql-fb -x` extracts it and the
// rows of every table, sorted. Files in a theme's parts/ folder are INPUT
// material, not cases.
//
// DifferentialOnServer runs the same cases with both sides reaching their
// copies through the tests' private server instead.
//
// Both sides run in a folder of their own, not the script's (relative
// database and OUTPUT names land there): isql-fb with the database, user and
// WIN1251 on its command line and the script as its input file, the engine
// as the window and tallo-run call it, with the script's text behind the
// connect header and the script's folder named through SetScriptFolder. So
// relative INPUT names must be taken from the folder of the file that holds
// them on both sides.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "engine/firebird/lock_folder.h"
#include "ibescript.h"
#include "tests/firebird/fb_test_support.h"
#include "tests/support/test_server.h"

namespace tallo::testing {
namespace {

namespace fs = std::filesystem;

// Where the engine departs from isql on purpose. The case is not compared
// with isql's run of itself; the engine must fail `errors` statements and
// leave the database that isql leaves after `like` (a twin script written
// the isql way), or the untouched database when `like` is empty.
struct Departure {
    const char* file;  // <theme>/<name>.sql
    const char* reason;
    int errors;
    const char* like;
};

constexpr Departure kDepartures[] = {
    {"failing/09-damaged-tail.sql",
     "the whole text, INPUT files included, is read before anything runs: a damaged script changes nothing "
     "(isql runs the statements before the damage)",
     1, ""},
    {"input/04-missing-file.sql",
     "an INPUT file that cannot be read is found before anything runs and refuses the script (isql reports "
     "it and goes on)",
     1, ""},
    {"transactions/12-failed-connect.sql",
     "after a failed CONNECT the first statement that needs the database is one more error, the rest up to "
     "the next CONNECT are skipped (isql ignores them without a word)",
     2, "transactions/12-failed-connect.sql"},
    {"psql-noterm/01-procedure.sql", "PSQL bodies run without SET TERM (isql cuts them at the first ';')", 0,
     "psql-term/01-procedure.sql"},
    {"psql-noterm/02-trigger.sql", "PSQL bodies run without SET TERM", 0, "psql-term/02-trigger.sql"},
    {"psql-noterm/03-function.sql", "PSQL bodies run without SET TERM", 0, "psql-term/03-function.sql"},
    {"psql-noterm/04-execute-block.sql", "PSQL bodies run without SET TERM", 0,
     "psql-term/04-execute-block.sql"},
    {"psql-noterm/05-package.sql", "PSQL bodies run without SET TERM", 0, "packages/01-header-and-body.sql"},
    {"psql-noterm/06-sub-routines.sql", "PSQL bodies run without SET TERM", 0,
     "subroutines/04-cube-in-execute-block.sql"},
    {"set-options/09-term-quote.sql",
     "a terminator with a blank, a control character, a quote, -, * or /, or of more than 31 characters, "
     "refuses the whole script before anything runs (isql reports it and goes on with the terminator it had)",
     1, ""},
    {"set-options/11-term-comment-chars.sql", "as set-options/09-term-quote.sql", 1, ""},
};

const Departure* DepartureOf(const std::string& name) {
    for (const Departure& d : kDepartures) {
        if (name == d.file)
            return &d;
    }
    return nullptr;
}

std::string Corpus() {
    return TALLO_DIFFERENTIAL_CORPUS;
}

// "<theme>/<name>.sql" for every case, in order.
std::vector<std::string> Cases() {
    std::vector<std::string> names;
    for (const auto& theme : fs::directory_iterator(Corpus())) {
        if (!theme.is_directory())
            continue;
        for (const auto& file : fs::directory_iterator(theme.path())) {
            if (file.is_regular_file() && file.path().extension() == ".sql")
                names.push_back(theme.path().filename().string() + "/" + file.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A fresh database made by isql-fb once per process, written without forced
// writes so that the many commits of a run cost no disk flushes.
const std::string& BaseDatabase() {
    static TempDir dir;
    static const std::string path = [] {
        // isql-fb inherits the engine's lock folder (a private one when the
        // system's is not writable for this user).
        engine::fb::PrepareLockFolder();
        const std::string db = dir / "base.fdb";
        WriteBytes(dir / "create.sql",
                   "create database '" + db + "' user 'SYSDBA' default character set WIN1251;\n");
        if (Shell("isql-fb -q -i '" + dir / "create.sql" + "' > '" + dir / "create.log" + "' 2>&1") != 0 ||
            Shell("gfix -user SYSDBA -write async '" + db + "' >> '" + dir / "create.log" + "' 2>&1") != 0)
            throw std::runtime_error("cannot create the base database: " + ReadBytes(dir / "create.log"));
        return db;
    }();
    return path;
}

// The engine library's entries, loaded once (Firebird stays loaded for the
// process).
struct EngineEntries {
    TalloExecScriptTextFn run = nullptr;
    TalloSetScriptFolderFn script_folder = nullptr;
};

const EngineEntries& Engine() {
    static const EngineEntries entries = [] {
        void* handle = ::dlopen(TALLO_ENGINE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            throw std::runtime_error(::dlerror());
        EngineEntries e;
        e.run = reinterpret_cast<TalloExecScriptTextFn>(::dlsym(handle, TALLO_ENGINE_ENTRY_NAME));
        e.script_folder =
            reinterpret_cast<TalloSetScriptFolderFn>(::dlsym(handle, TALLO_ENGINE_SCRIPT_FOLDER_NAME));
        if (e.run == nullptr || e.script_folder == nullptr)
            throw std::runtime_error("an entry is missing");
        return e;
    }();
    return entries;
}

std::string* g_errors = nullptr;
std::int32_t OnError(const char* first, const char* second) {
    *g_errors += std::string(first ? first : "") + " @ " + (second ? second : "") + "\n";
    return 0;
}
// The statements too, in the order the protocol holds them.
std::int32_t OnStatement(const char* first, const char*) {
    *g_errors += std::string(first ? first : "") + "\n";
    return 0;
}
std::int32_t Ignore(const char*, const char*) {
    return 0;
}

// Set by the server cases for the case that runs.
bool g_through_server = false;

bool ThroughServer() {
    return g_through_server;
}

// A database copy in a folder of its own, and what a run there reported.
struct Side {
    std::string folder;
    std::string db() const { return folder + "/db.fdb"; }
    // As both sides name it: relative to the folder, or on the server.
    std::string name() const { return ThroughServer() ? TestServerDatabase(db()) : "db.fdb"; }
    int errors = 0;
    std::string report;  // the errors and the statements, as the protocol has them
};

Side Prepare(const TempDir& dir, const std::string& name) {
    Side side;
    side.folder = dir / name;
    fs::create_directory(side.folder);
    fs::copy_file(BaseDatabase(), side.db());
    return side;
}

// isql-fb's failed statements: each report on standard error begins with one
// of these (a SHOW that finds nothing to show is one: SET BAIL stops there).
int CountIsqlErrors(const std::string& log) {
    int n = 0;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Statement failed", 0) == 0 || line.rfind("Command error", 0) == 0 ||
            line.rfind("Unable to open", 0) == 0 || line.rfind("Expected end of statement", 0) == 0 ||
            line.rfind("There is no ", 0) == 0 || line.rfind("There are no ", 0) == 0)
            ++n;
    }
    return n;
}

// On the server, a script's own database names ('x.fdb') name files of the
// side's folder there; the script runs as a copy, beside a copy of its
// theme's files (its INPUT material). Its CONNECT and CREATE DATABASE find
// the password in ISC_PASSWORD.
std::string ServerScript(const Side& side, const std::string& script) {
    if (!ThroughServer())
        return script;
    static const std::regex kName("'([^'/:]+\\.fdb)'", std::regex::icase);
    const std::string text = ReadBytes(script);
    const std::string rewritten =
        std::regex_replace(text, kName, "'" + TestServerDatabase(side.folder + "/") + "$1'");
    if (rewritten == text)
        return script;
    const fs::path theme = side.folder + "/theme";
    if (!fs::exists(theme))
        fs::copy(fs::path(script).parent_path(), theme, fs::copy_options::recursive);
    const std::string copy = (theme / fs::path(script).filename()).string();
    WriteBytes(copy, rewritten);
    return copy;
}

void RunIsql(Side& side, const std::string& original) {
    const std::string script = ServerScript(side, original);
    Shell("cd '" + side.folder + "' && ISC_PASSWORD=masterkey isql-fb -q -ch WIN1251 -user SYSDBA " +
          "-password masterkey '" + side.name() + "' -i '" + script + "' > isql.out 2> isql.err");
    side.report = ReadBytes(side.folder + "/isql.err");
    side.errors = CountIsqlErrors(side.report);
}

void RunEngine(Side& side, const std::string& script) {
    const std::string text = "SET NAMES WIN1251; CONNECT '" + side.name() +
                             "' USER 'SYSDBA' PASSWORD 'masterkey'; " + ReadBytes(ServerScript(side, script));
    CurrentFolder in_side(side.folder);
    g_errors = &side.report;
    Engine().script_folder(fs::path(script).parent_path().c_str());
    side.errors = Engine().run(text.c_str(), OnError, Ignore, OnStatement);
    Engine().script_folder(nullptr);
    g_errors = nullptr;
}

// The metadata extract and every table's rows, each table's rows sorted.
std::string Dump(const Side& side) {
    Shell("cd '" + side.folder + "' && isql-fb -x -user SYSDBA -password masterkey '" + side.name() +
          "' > extract.sql 2>&1");
    std::string dump = ReadBytes(side.folder + "/extract.sql");
    // The extract names the database as it was reached: the same name on both sides.
    const std::string reached = side.name();
    for (std::size_t at = 0; ThroughServer() && (at = dump.find(reached, at)) != std::string::npos; at += 6)
        dump.replace(at, reached.size(), "db.fdb");
    auto session = engine::MakeFirebirdSession();
    session->Connect(SysdbaParams(ThroughServer() ? side.name() : side.db()));
    std::vector<std::string> tables;
    for (const auto& row :
         Query(*session,
               "select trim(rdb$relation_name) from rdb$relations where rdb$system_flag = 0 "
               "and rdb$view_blr is null and rdb$relation_type in (0, 2, 3) order by 1"))
        tables.push_back(*row[0]);
    for (const std::string& table : tables) {
        std::vector<std::string> lines;
        for (const auto& row : Query(*session, "select * from \"" + table + "\"")) {
            std::string line = table;
            for (const auto& v : row)
                line.append("|").append(v.value_or("<null>"));
            lines.push_back(line);
        }
        std::sort(lines.begin(), lines.end());
        for (const std::string& line : lines)
            dump += line + "\n";
    }
    session->Disconnect(false);
    return dump;
}

void CompareWithIsql(const std::string& name) {
    const std::string script = Corpus() + "/" + name;
    const Departure* departure = DepartureOf(name);
    TempDir dir;
    Side ours = Prepare(dir, "engine");
    RunEngine(ours, script);
    // Statements sent together in blocks, and the worker's reading of the
    // text in windows, must change nothing: the same run inside this
    // process, on the whole text, with every statement sent alone gives the
    // same protocol and database.
    TempDir alone_dir;  // a folder's name as long as dir's: error texts may quote it
    Side alone = Prepare(alone_dir, "engine");
    ::setenv("TALLO_ENGINE_STATEMENT_BLOCKS", "0", 1);
    ::setenv("TALLO_ENGINE_WORKER", "0", 1);
    RunEngine(alone, script);
    ::unsetenv("TALLO_ENGINE_WORKER");
    ::unsetenv("TALLO_ENGINE_STATEMENT_BLOCKS");
    const std::string ours_dump = Dump(ours);
    EXPECT_EQ(alone.errors, ours.errors);
    // Names of the side's own folder (rewritten into the script on the server),
    // transaction numbers, which the database's own work may move, times and
    // the counters of SET STATS aside.
    const auto comparable = [](std::string report, const std::string& folder) {
        report = std::regex_replace(report, std::regex(folder), "<folder>");
        report = std::regex_replace(report, std::regex("elapsed time: [0-9.]+ s"), "elapsed time: T s");
        report = std::regex_replace(
            report, std::regex("(memory|Elapsed time|Cpu|Buffers|Reads|Writes|Fetches) ?= ?[0-9.]+"),
            "$1 = N");
        return std::regex_replace(report, std::regex("transaction number is [0-9]+"),
                                  "transaction number is N");
    };
    EXPECT_EQ(comparable(alone.report, alone_dir.path()), comparable(ours.report, dir.path()));
    EXPECT_EQ(Dump(alone), ours_dump);

    Side theirs = Prepare(dir, "isql");
    if (departure == nullptr) {
        RunIsql(theirs, script);
    } else if (*departure->like != '\0') {
        RunIsql(theirs, Corpus() + "/" + departure->like);
    }
    const int expected = departure ? departure->errors : theirs.errors;
    EXPECT_EQ(ours.errors, expected) << (departure ? departure->reason : "") << "\nengine:\n"
                                     << ours.report << "isql-fb:\n"
                                     << theirs.report;
    EXPECT_EQ(ours_dump, Dump(theirs)) << (departure ? departure->reason : "");
}

class Differential : public ::testing::TestWithParam<std::string> {};

TEST_P(Differential, SameFailuresAndSameDatabaseAsIsql) {
    g_through_server = false;
    CompareWithIsql(GetParam());
}

class DifferentialOnServer : public ::testing::TestWithParam<std::string> {};

TEST_P(DifferentialOnServer, SameFailuresAndSameDatabaseAsIsql) {
    g_through_server = true;
    ::setenv("ISC_PASSWORD", "masterkey", 1);
    CompareWithIsql(GetParam());
    ::unsetenv("ISC_PASSWORD");
}

// "<theme>/<name>.sql" as a test name: "<theme>_<name>".
std::string CaseName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param.substr(0, info.param.size() - 4);
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, Differential, ::testing::ValuesIn(Cases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Corpus, DifferentialOnServer, ::testing::ValuesIn(Cases()), CaseName);

// Every departure names a case that exists, and its twin too.
TEST(DifferentialCorpus, DeparturesNameExistingScripts) {
    const std::vector<std::string> cases = Cases();
    EXPECT_GE(cases.size(), 60u);
    for (const Departure& d : kDepartures) {
        EXPECT_NE(std::find(cases.begin(), cases.end(), d.file), cases.end()) << d.file;
        if (*d.like != '\0') {
            EXPECT_TRUE(fs::exists(Corpus() + "/" + d.like)) << d.like;
        }
    }
}

}  // namespace
}  // namespace tallo::testing
