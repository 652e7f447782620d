// The SHOW listings of the built engine against isql-fb's: one embedded
// database holding an object of every kind (setup.sql, made by isql-fb), each
// command run by isql-fb and by the engine (loaded with dlopen as the tool
// loads it); the protocol text must equal isql's output with CR LF line ends,
// and an object that does not exist must give isql's message as the one error.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ibescript.h"
#include "tests/support/temp_dir.h"
#include "text/win1251.h"

namespace tallo::testing {
namespace {

using cp1251::operator""_cp;

struct Reports {
    std::vector<std::string> errors;
    std::vector<std::string> statements;
};
Reports* g_reports = nullptr;

std::int32_t OnError(const char* first, const char*) {
    g_reports->errors.emplace_back(first ? first : "");
    return 0;
}
std::int32_t OnStatus(const char*, const char*) {
    return 0;
}
std::int32_t OnStatement(const char* first, const char*) {
    g_reports->statements.emplace_back(first ? first : "");
    return 0;
}

// Firebird's engine stays loaded for the process: never dlclose'd.
TalloExecScriptTextFn Entry() {
    static TalloExecScriptTextFn entry = [] {
        void* handle = ::dlopen(TALLO_ENGINE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            throw std::runtime_error(::dlerror());
        return reinterpret_cast<TalloExecScriptTextFn>(::dlsym(handle, TALLO_ENGINE_ENTRY_NAME));
    }();
    return entry;
}

Reports RunEngine(const std::string& script) {
    Reports reports;
    g_reports = &reports;
    Entry()(script.c_str(), OnError, OnStatus, OnStatement);
    g_reports = nullptr;
    return reports;
}

struct IsqlResult {
    std::string out;
    std::string err;
    int exit_code = -1;
};

IsqlResult RunIsql(const TempDir& dir, const std::string& database, const std::string& input) {
    WriteBytes(dir / "in.sql", input);
    std::string command = "isql-fb -q -ch WIN1251 -user SYSDBA -i '" + (dir / "in.sql") + "' ";
    if (!database.empty())
        command += "'" + database + "' ";
    command += ">'" + (dir / "out.txt") + "' 2>'" + (dir / "err.txt") + "'";
    const int status = std::system(command.c_str());
    IsqlResult result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadBytes(dir / "out.txt");
    result.err = ReadBytes(dir / "err.txt");
    return result;
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// Transaction numbers move on with every attachment: they are left out.
std::string Comparable(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, end - start);
        if (line.rfind("Transaction - ", 0) == 0)
            line = line.substr(0, line.find('=') + 1) + " ...\r\n";
        out += line;
        start = end;
    }
    return cp1251::ToUtf8(out);
}

bool HaveIsql() {
    return std::system("command -v isql-fb >/dev/null 2>&1") == 0;
}

// The commands compared, most used first; names in Windows-1251. (Not SHOW
// USERS: isql reads the machine's security database for it.)
const std::vector<std::string> kCommands = {
    "SHOW TABLES",
    "SHOW TABLE EMP",
    "show table dept",
    "SHOW TABLE PARTS",
    "SHOW TABLE \"Таблица\""_cp,
    "SHOW TABLE таблица"_cp,  // a bare name: capitals in ASCII alone
    "SHOW TABLE \"mixed Case\"",
    "SHOW TABLE TMP",
    "SHOW TABLE MIX",
    "SHOW TABLE TMP_DEL",
    "SHOW PROCEDURE P_TYPES",
    "SHOW TABLE NOPE",
    "SHOW TABLE V_EMP",
    "SHOW VIEWS",
    "SHOW VIEW V_EMP",
    "SHOW VIEW \"Вид\""_cp,
    "SHOW VIEW EMP",
    "SHOW VIEW V_DEPT",
    "SHOW PROCEDURES",
    "SHOW PROCEDURE P_ADD",
    "SHOW PROCEDURE \"Процедура\""_cp,
    "SHOW PROCEDURE NOPE",
    "SHOW FUNCTIONS",
    "SHOW FUNCTION F_TWICE",
    "SHOW FUNCTION UDF_ABS",
    "SHOW FUNCTION UDF_SUB",
    "SHOW PACKAGES",
    "SHOW PACKAGE PK_UTIL",
    "SHOW GENERATORS",
    "SHOW GENERATOR GEN_ID",
    "SHOW SEQUENCES",
    "SHOW SEQUENCE \"Счётчик\""_cp,
    "SHOW GENERATOR NOPE",
    "SHOW INDEXES",
    "SHOW INDEX EMP",
    "SHOW INDEX IX_EMP_SAL",
    "SHOW INDICES PARTS",
    "SHOW INDEX NOPE",
    "SHOW TRIGGERS",
    "SHOW TRIGGER EMP_BI",
    "SHOW TRIGGER ON_CONN",
    "SHOW TRIGGER T_ANY_DDL",
    "SHOW TRIGGER T_SOME_DDL",
    "SHOW TRIGGER NOPE",
    "SHOW DOMAINS",
    "SHOW DOMAIN D_MONEY",
    "SHOW DOMAIN D_NAME",
    "SHOW DOMAIN D_ARR",
    "SHOW DOMAIN \"d quoted\"",
    "SHOW DOMAIN \"Домен\""_cp,
    "SHOW DOMAIN NOPE",
    "SHOW EXCEPTIONS",
    "SHOW EXCEPTION E_BAD",
    "SHOW PROCEDURE P_DEPS",
    "SHOW EXCEPTION NOPE",
    "SHOW ROLES",
    "SHOW ROLE R_READ",
    "SHOW ROLE \"Роль\""_cp,
    "SHOW ROLE NOPE",
    "SHOW GRANTS",
    "SHOW GRANT EMP",
    "SHOW GRANT DEPT",
    "SHOW GRANT R_READ",
    "SHOW GRANT P_ADD",
    "SHOW GRANT GEN_ID",
    "SHOW GRANT NOPE",
    "SHOW GRANT \"Вид\""_cp,
    "SHOW CHECK EMP",
    "SHOW CHECK DEPT",
    "SHOW COMMENTS",
    "SHOW COLLATIONS",
    "SHOW COLLATION NAME_CI",
    "SHOW SQL DIALECT",
    "SHOW DATABASE",
    "SHOW DB",
    "SHOW VERSION",
    "SHOW SYSTEM",
    "SHOW SYSTEM TABLES",
    "SHOW SYSTEM COLLATIONS",
    "SHOW FILTERS",
    "SHOW FILTER F_DESC",
    "SHOW FILTER NOPE",
    "SHOW SCHEMAS",
    "SHOW MAPPING",
    "SHOW MAPPING M_ONE",
    "SHOW MAPPING NOPE",
    "SHOW PROC P_ADD",
    "SHOW GEN",
    "SHOW TAB",
    "SHOW FOO",
    "SHOW",
    "SHOW FUNCTION NOPE",
    "SHOW PACKAGE NOPE",
    "SHOW COLLATION NOPE",
    "SHOW CHECK NOPE",
    "SHOW TRIGGERS EMP",
};

// One database for the suite: isql-fb makes it once.
std::string CreateDatabase(const std::string& db) {
    return "SET NAMES WIN1251;\nCREATE DATABASE '" + db +
           "' USER 'SYSDBA' PASSWORD 'masterkey' DEFAULT CHARACTER SET WIN1251;\n";
}

std::string Header(const std::string& db) {
    return "SET NAMES WIN1251;\nCONNECT '" + db + "' USER 'SYSDBA' PASSWORD 'masterkey';\n";
}

// Each command through isql-fb and through the engine on the same database.
void ExpectIsqlListings(const TempDir& dir, const std::string& db, const std::vector<std::string>& commands) {
    // isql first, every command: an embedded database is open in one process
    // at a time.
    std::vector<IsqlResult> expected;
    for (const std::string& command : commands)
        expected.push_back(RunIsql(dir, db, command + ";\n"));
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const std::string& command = commands[i];
        SCOPED_TRACE(cp1251::ToUtf8(command));
        const Reports reports = RunEngine(Header(db) + command + ";\n");
        // The protocol between the command and the run's summary.
        std::string protocol;
        bool after = false;
        for (const std::string& entry : reports.statements) {
            if (entry == command) {
                after = true;
            } else if (after && entry.rfind("Statements executed:", 0) != 0) {
                // One line to an entry: the tool drops a whole entry that
                // names CONNECT (SHOW TRIGGERS lists "ON CONNECT").
                EXPECT_EQ(entry.find('\n'), std::string::npos);
                protocol += entry + "\r\n";
            }
        }
        EXPECT_EQ(Comparable(protocol), Comparable(WithCrLf(expected[i].out)));
        std::string errors;
        for (const std::string& e : reports.errors)
            errors += e + "\n";
        EXPECT_EQ(cp1251::ToUtf8(errors), cp1251::ToUtf8(expected[i].err));
        EXPECT_EQ(reports.errors.empty(), expected[i].exit_code == 0);
    }
}

// One database for the suite: isql-fb makes it once.
class ShowListing : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!HaveIsql())
            return;
        dir = new TempDir;
        db = *dir / "show.fdb";
        const IsqlResult setup =
            RunIsql(*dir, "", CreateDatabase(db) + cp1251::FromUtf8(ReadBytes(TALLO_SHOW_SETUP)));
        setup_errors = setup.exit_code == 0 ? "" : setup.err + " ";
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override {
        if (dir == nullptr)
            GTEST_SKIP() << "isql-fb is not installed";
        ASSERT_EQ(setup_errors, "");
    }

    static inline TempDir* dir = nullptr;
    static inline std::string db;
    static inline std::string setup_errors;
};

TEST_F(ShowListing, EachCommandListsWhatIsqlLists) {
    ExpectIsqlListings(*dir, db, kCommands);
}

TEST(ShowEmptyDatabase, EachKindTellsThatThereIsNone) {
    if (!HaveIsql())
        GTEST_SKIP() << "isql-fb is not installed";
    TempDir dir;
    const std::string db = dir / "empty.fdb";
    ASSERT_EQ(RunIsql(dir, "", CreateDatabase(db)).exit_code, 0);
    ExpectIsqlListings(dir, db,
                       {"SHOW TABLES", "SHOW VIEWS", "SHOW PROCEDURES", "SHOW FUNCTIONS", "SHOW PACKAGES",
                        "SHOW DOMAINS", "SHOW GENERATORS", "SHOW INDEXES", "SHOW TRIGGERS", "SHOW EXCEPTIONS",
                        "SHOW ROLES", "SHOW GRANTS", "SHOW COMMENTS", "SHOW COLLATIONS", "SHOW FILTERS"});
}

TEST_F(ShowListing, ListingAlsoGoesToTheOutputFile) {
    const std::string out = *dir / "listing.txt";
    const Reports reports =
        RunEngine(Header(db) + "OUTPUT '" + out + "';\nSHOW GENERATOR GEN_ID;\nSHOW TABLE NOPE;\nOUTPUT;\n");
    ASSERT_EQ(reports.errors.size(), 1u);
    EXPECT_EQ(reports.errors[0], "There is no table NOPE in this database");
    EXPECT_EQ(ReadBytes(out), "Generator GEN_ID, current value: 41, initial value: 41, increment: 1\r\n");
}

// SHOW right after DDL lists what isql lists at that point: what AUTODDL
// committed, not DDL still open in the main transaction (AUTODDL off), nor
// what a ROLLBACK took back. Each script runs through isql-fb and through
// the engine on copies of one empty database, with ^ as the terminator.
TEST(ShowAfterDdl, ListsWhatIsqlListsAtThatPoint) {
    if (!HaveIsql())
        GTEST_SKIP() << "isql-fb is not installed";
    const std::string procedure =
        "CREATE PROCEDURE P (X INTEGER) RETURNS (Y INTEGER) AS\nBEGIN\n  Y = X;\n  SUSPEND;\nEND";
    const std::vector<std::vector<std::string>> scripts = {
        {"CREATE TABLE T (A INTEGER NOT NULL PRIMARY KEY)", "SHOW TABLE T",
         "CREATE VIEW V AS SELECT A FROM T", "SHOW VIEW V", procedure, "SHOW PROCEDURE P",
         "ALTER TABLE T ADD B VARCHAR(5)", "SHOW TABLE T", "DROP VIEW V", "SHOW VIEW V", "SHOW TABLES"},
        {"SET AUTODDL OFF", "CREATE TABLE T (A INTEGER)", "SHOW TABLE T", "CREATE VIEW V AS SELECT A FROM T",
         "SHOW VIEW V", procedure, "SHOW PROCEDURE P", "COMMIT", "SHOW TABLE T", "SHOW VIEW V",
         "SHOW PROCEDURE P"},
        {"SET AUTODDL OFF", "CREATE TABLE T (A INTEGER)", "ROLLBACK", "SHOW TABLE T", "SHOW TABLES",
         "SET AUTODDL ON", "CREATE TABLE U (A INTEGER)", "ROLLBACK", "SHOW TABLE U"},
    };
    TempDir dir;
    const std::string empty = dir / "empty.fdb";
    ASSERT_EQ(RunIsql(dir, "", CreateDatabase(empty)).exit_code, 0);
    for (std::size_t i = 0; i < scripts.size(); ++i) {
        SCOPED_TRACE("script " + std::to_string(i));
        const std::vector<std::string>& statements = scripts[i];
        std::string text = "SET TERM ^;\n";
        for (const std::string& statement : statements)
            text += statement + "^\n";
        const std::string theirs = dir / ("isql" + std::to_string(i) + ".fdb");
        const std::string ours = dir / ("engine" + std::to_string(i) + ".fdb");
        std::filesystem::copy_file(empty, theirs);
        std::filesystem::copy_file(empty, ours);
        const IsqlResult expected = RunIsql(dir, theirs, text);
        const Reports reports = RunEngine(Header(ours) + text);
        // The listings: the entries after each SHOW up to the next statement.
        std::string protocol;
        bool listing = false;
        for (const std::string& entry : reports.statements) {
            const bool statement = std::find(statements.begin(), statements.end(), entry) != statements.end();
            if (statement || entry.rfind("Statements executed:", 0) == 0)
                listing = statement && entry.rfind("SHOW", 0) == 0;
            else if (listing)
                protocol += entry + "\r\n";
        }
        EXPECT_EQ(Comparable(protocol), Comparable(WithCrLf(expected.out)));
        std::string errors;
        for (const std::string& e : reports.errors)
            errors += e + "\n";
        EXPECT_EQ(errors, expected.err);
    }
}

}  // namespace
}  // namespace tallo::testing
