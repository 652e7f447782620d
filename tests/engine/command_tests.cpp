// Client-side commands and password masking.
#include <gtest/gtest.h>

#include "engine/commands.h"
#include "engine/file_names.h"
#include "engine/masking.h"
#include "text/win1251.h"

namespace tallo::engine {
namespace {

using namespace command;

// One form a line: the statement, and the node it is read into; a command
// written wrongly is an Invalid node holding the error the run reports.
struct Case {
    const char* text;
    Command node;
};

const Case kCases[] = {
    {"insert into t values (1)", Sql{}},
    {"outer_table", Sql{}},
    {"showcase", Sql{}},
    {"helper_table", Sql{}},
    // CONNECT: operands in any order, quoted or bare; a bare role in capitals.
    {"connect 'C:\\DB\\it''s.fdb' password 'p''w' USER 'SYSDBA' role \"Mixed\" cache 75",
     Connect{"C:\\DB\\it's.fdb", "SYSDBA", "p'w", "Mixed", 75}},
    {"CONNECT localhost:/db/x.fdb USER sysdba PASSWORD masterkey ROLE admin",
     Connect{"localhost:/db/x.fdb", "sysdba", "masterkey", "ADMIN", 0}},
    {"CONNECT", Invalid{"CONNECT needs a database name"}},
    {"CONNECT 'db' USER", Invalid{"Invalid CONNECT command near USER"}},
    {"CONNECT 'db' COLOR 'red'", Invalid{"Invalid CONNECT command near COLOR"}},
    {"CONNECT 'db' CACHE lots", Invalid{"Invalid CACHE value lots"}},
    // OUTPUT and its delimiter (isql's misspelling too).
    {"output 'DBVersion.out' delimeter #9", Output{"DBVersion.out", "\t"}},
    {"OUTPUT x.txt DELIMITER '; '", Output{"x.txt", "; "}},
    {"OUT x.txt Delimiter |", Output{"x.txt", "|"}},
    {"OUTP 'x.txt'", Output{"x.txt", std::nullopt}},
    {"output", OutputEnd{}},
    {"output x delimiter #0", Invalid{"Invalid OUTPUT delimiter #0"}},
    {"output x delimiter ab", Invalid{"Invalid OUTPUT delimiter ab"}},
    {"output x separator ;", Invalid{"Invalid OUTPUT command near separator"}},
    {"IN 'a b.sql'", Input{"a b.sql"}},
    {"input x.sql", Input{"x.sql"}},
    {"exit", Exit{}},
    {"Quit", Quit{}},
    {"EXIT now", Sql{}},
    // Transactions.
    {"COMMIT WORK", Commit{false}},
    {"commit retain", Commit{true}},
    {"COMMIT WORK RETAIN SNAPSHOT", Commit{true}},
    {"rollback work", Rollback{false}},
    {"ROLLBACK RETAIN", Rollback{true}},
    {"ROLLBACK TO SAVEPOINT S1", Sql{}},
    {"SET TRANSACTION READ COMMITTED", SetTransaction{}},
    {"set trans wait", SetTransaction{}},
    // SET.
    {"SET NAMES WIN1251", SetNames{"WIN1251"}},
    {"set sql dialect 1", SetDialect{1}},
    {"set sql dialect 4", Invalid{"SQL dialect must be 1, 2 or 3"}},
    {"SET AUTODDL OFF", SetSwitch{Option::Autoddl, false}},
    {"set auto on", SetSwitch{Option::Autoddl, true}},
    {"SET BAIL", SetSwitch{Option::Bail, std::nullopt}},
    {"SET BAIL maybe", Invalid{"SET BAIL expects ON or OFF"}},
    {"set list", SetSwitch{Option::List, std::nullopt}},
    {"SET STAT ON", SetSwitch{Option::Stats, true}},
    {"SET PLANONLY ON", SetSwitch{Option::PlanOnly, true}},
    {"set plan off", SetSwitch{Option::Plan, false}},
    {"SET TERM ^", SetTerm{"^"}},
    {"SET TERM", SetTerm{";"}},
    {"set width name 10", SetWidth{"NAME", 10}},
    {"SET WIDTH \"Name\"", SetWidth{"Name", 0}},
    {"SET WIDTH", Invalid{"SET WIDTH needs a column name"}},
    {"SET WIDTH X 0", Invalid{"SET WIDTH expects a column name and a width"}},
    {"SET WIDTH X wide", Invalid{"SET WIDTH expects a column name and a width"}},
    {"SET WIDTH X 5 6", Invalid{"SET WIDTH expects a column name and a width"}},
    {"SET ROWCOUNT 25", SetRowCount{25}},
    {"SET ROWCOUNT 99999999999", SetRowCount{2147483647}},
    {"SET ROWCOUNT", Invalid{"SET ROWCOUNT expects a number of rows"}},
    {"SET ROWCOUNT -1", Invalid{"SET ROWCOUNT expects a number of rows"}},
    {"SET ROWCOUNT 1 2", Invalid{"SET ROWCOUNT expects a number of rows"}},
    {"SET WARNINGS OFF", SetIgnored{}},
    {"SET BLOB ALL", SetIgnored{}},
    {"SET ECHO ON", SetIgnored{}},
    {"SET TIME ON", SetIgnored{}},
    {"SET", SetIgnored{}},
    {"SET GENERATOR G TO 5", Sql{}},
    {"SET STATISTICS INDEX I1", Sql{}},
    {"SET TIME ZONE 'UTC'", Sql{}},
    {"SET ROLE R", Sql{}},
    {"SET DECFLOAT ROUND CEILING", Sql{}},
    // Databases.
    {"create database 'x.fdb' page_size 8192", CreateDatabase{}},
    {"DROP DATABASE", DropDatabase{}},
    {"DROP TABLE T", Sql{}},
    {"CREATE TABLE T (A INT)", Sql{}},
    // SHOW: the kind in any accepted abbreviation, a bare name upper-cased in
    // ASCII alone, as isql does.
    {"show tables", Show{ShowKind::Tables, std::nullopt}},
    {"SHOW TABLE \"a b\"", Show{ShowKind::Tables, "a b"}},
    {"show table emp extra words", Show{ShowKind::Tables, "EMP"}},
    {"show table \xF2\xE0\xE1\xEB_x", Show{ShowKind::Tables, "\xF2\xE0\xE1\xEB_X"}},
    {"SHOW GEN", Show{ShowKind::Generators, std::nullopt}},
    {"show sequences s1", Show{ShowKind::Generators, "S1"}},
    {"SHOW INDICES PARTS", Show{ShowKind::Indices, "PARTS"}},
    {"show sql dialect", Show{ShowKind::SqlDialect, std::nullopt}},
    {"SHOW DB", Show{ShowKind::Database, std::nullopt}},
    {"SHOW CHECK EMP", Show{ShowKind::Checks, "EMP"}},
    {"SHOW CHECK", ShowError{"SHOW CHECK needs a table name", {}}},
    {"SHOW TA", ShowError{"Command error: SHOW TA", {}}},
    {"SHOW TABLE 'emp'", ShowError{"Command error: SHOW TABLE 'emp'", {}}},
    {"show schemas", ShowError{"Command error: show schemas", {}}},
    {"SHOW SECURITY CLA", ShowError{"This SHOW command is not available in a script run by this engine", {}}},
    {"SHOW DEPEN T", ShowError{"This SHOW command is not available in a script run by this engine", {}}},
    // isql's interactive commands.
    {"SHELL ls",
     Invalid{"SHELL is a command of isql's interactive session; a script run does not execute it"}},
    {"edit x.sql",
     Invalid{"EDIT is a command of isql's interactive session; a script run does not execute it"}},
    {"BlobView 1:2",
     Invalid{"BLOBVIEW is a command of isql's interactive session; a script run does not execute it"}},
    {"COPY t other.fdb",
     Invalid{"COPY is a command of isql's interactive session; a script run does not execute it"}},
};

TEST(Command, EachFormIsReadIntoItsNode) {
    for (const Case& c : kCases)
        EXPECT_EQ(ReadCommand(c.text), c.node) << c.text;
}

TEST(Command, SetTermAndInputWrittenWronglyAreThrown) {
    const std::pair<const char*, const char*> cases[] = {
        {"SET TERM /", "A terminator may not contain blanks, control characters, quotes, -, * or /"},
        {"SET TERM a-b", "A terminator may not contain blanks, control characters, quotes, -, * or /"},
        {"SET TERM ^ x", "Invalid SET TERM command"},
        {"INPUT", "INPUT needs a file name"},
        {"INPUT a b", "Invalid INPUT command: text after the file name"},
    };
    for (const auto& [text, message] : cases) {
        try {
            ReadCommand(text);
            ADD_FAILURE() << text << ": not thrown";
        } catch (const CommandError& e) {
            EXPECT_EQ(std::string(e.what()), message) << text;
        }
    }
}

TEST(Command, ShowAloneListsTheKinds) {
    const Command show = ParseCommand("SHOW");
    const auto* error = std::get_if<ShowError>(&show);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->message, "Command error: SHOW");
    ASSERT_FALSE(error->listing.empty());
    EXPECT_EQ(error->listing.front(), "Valid options are:");
}

TEST(Masking, ConnectAndCreateDatabaseInEveryForm) {
    EXPECT_EQ(MaskPasswords("CONNECT 'db' USER 'SYSDBA' PASSWORD 'x'"),
              "CONNECT 'db' USER '****' PASSWORD '****'");
    EXPECT_EQ(MaskPasswords("connect db password masterkey user u"), "connect db password **** user u");
    EXPECT_EQ(MaskPasswords("CONNECT 'db' PASSWORD 'it''s' ROLE r"), "CONNECT 'db' PASSWORD '****' ROLE r");
    EXPECT_EQ(MaskPasswords("CREATE DATABASE 'x' USER 'a' /* c */ PASSWORD \"p\""),
              "CREATE DATABASE 'x' USER '****' /* c */ PASSWORD \"****\"");
    EXPECT_EQ(MaskPasswords("connect db password #s3cr:t"), "connect db password ****");
    // An unquoted database: every string after it is masked.
    EXPECT_EQ(MaskPasswords("connect db 'u' 'p'"), "connect db '****' '****'");
    EXPECT_EQ(MaskPasswords("CONNECT /* c */ 'db' 'p'"), "CONNECT /* c */ 'db' '****'");
}

TEST(Masking, UserManagementAndNoFalseHits) {
    EXPECT_EQ(MaskPasswords("CREATE USER BOB PASSWORD 'pw'"), "CREATE USER BOB PASSWORD '****'");
    EXPECT_EQ(MaskPasswords("select password from users"), "select password from users");
    // A string holding a statement that sets a password may be run later
    // (EXECUTE STATEMENT :text); its password is masked wherever it stands.
    EXPECT_EQ(MaskPasswords("select 'PASSWORD ''x''' from t"), "select 'PASSWORD ''****''' from t");
    EXPECT_EQ(MaskPasswords("select 'no password here' from t"), "select 'no password here' from t");
}

// A USER statement keeps no literal whatever keywords stand around it (here
// misspelled, so that Firebird refuses it and its error repeats the secret),
// and neither does a CONNECT or CREATE DATABASE that fails to parse.
TEST(Masking, EveryLiteralOfAUserStatementAndOfABrokenConnect) {
    const std::pair<const char*, const char*> cases[] = {
        {"CREATE USER y PASWORD 'Leak5x'", "CREATE USER y PASWORD '****'"},
        {"create user y pasword q'{Leak5x}'", "create user y pasword q'{****}'"},
        {"ALTER USER y SET PASWRD _win1251 'Leak5x'", "ALTER USER y SET PASWRD _win1251 '****'"},
        {"CREATE OR ALTER USER y PASWORD x'4C65616B3578'", "CREATE OR ALTER USER y PASWORD x'****'"},
        {"RECREATE USER y FIRSTNAME 'Leak5x' PASWORD 'Leak5x'",
         "RECREATE USER y FIRSTNAME '****' PASWORD '****'"},
        {"ALTER CURRENT USER SET PASWORD 'Leak5x'", "ALTER CURRENT USER SET PASWORD '****'"},
        {"CREATE USER y 'Leak5x'", "CREATE USER y '****'"},
        {"create /* c */ user y tags (k = 'Leak5x') using plugin Srp",
         "create /* c */ user y tags (k = '****') using plugin Srp"},
        // "..." is a string in dialect 1; the user name stays.
        {"CREATE USER \"Bob\" PASWORD \"Leak5x\"", "CREATE USER \"Bob\" PASWORD \"****\""},
        {"CONNECT 'db' USR 'SYSDBA' PASWORD _win1251 'Leak5x'",
         "CONNECT 'db' USR '****' PASWORD _win1251 '****'"},
        {"CONNECT 'db' ROLE r q'(Leak5x)'", "CONNECT 'db' ROLE r q'(****)'"},
        {"CREATE DATABASE 'new.fdb' USR 'SYSDBA' PASWORD x'4C65616B3578'",
         "CREATE DATABASE 'new.fdb' USR '****' PASWORD x'****'"},
        // No other statement loses its literals.
        {"ALTER TABLE users ADD note VARCHAR(9) DEFAULT 'keep'",
         "ALTER TABLE users ADD note VARCHAR(9) DEFAULT 'keep'"},
        {"CREATE TABLE user_log (note VARCHAR(9) DEFAULT 'keep')",
         "CREATE TABLE user_log (note VARCHAR(9) DEFAULT 'keep')"},
        {"GRANT SELECT ON t TO USER y", "GRANT SELECT ON t TO USER y"},
    };
    for (const auto& [statement, shown] : cases) {
        EXPECT_EQ(MaskPasswords(statement), shown);
        // Firebird's "Token unknown" repeats the literal it stumbled on.
        const std::string error = "Token unknown - line 1, column 15\n-'Leak5x'";
        if (std::string_view(statement) != shown) {
            EXPECT_EQ(MaskErrorText(error, statement), "Token unknown - line 1, column 15\n-'****'")
                << statement;
        }
    }
}

}  // namespace
}  // namespace tallo::engine

TEST(FileNames, Windows1251NamesBecomeUtf8AndUtf8NamesStay) {
    using tallo::cp1251::IsValidUtf8;
    using tallo::engine::FileSystemName;
    EXPECT_EQ(FileSystemName("/srv/db/main.fdb"), "/srv/db/main.fdb");
    EXPECT_EQ(FileSystemName("127.0.0.1:/srv/\xC1\xE0\xE7\xFB/a.fdb"),
              "127.0.0.1:/srv/\xD0\x91\xD0\xB0\xD0\xB7\xD1\x8B/a.fdb");
    EXPECT_EQ(FileSystemName("/srv/\xD0\x91\xD0\xB0\xD0\xB7\xD1\x8B"),
              "/srv/\xD0\x91\xD0\xB0\xD0\xB7\xD1\x8B");
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\x80"));              // lone continuation byte
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // cut sequence
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond Unicode
}
