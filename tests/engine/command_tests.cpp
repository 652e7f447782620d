// Client-side commands and password masking.
#include <gtest/gtest.h>

#include "engine/commands.h"
#include "engine/file_names.h"
#include "engine/masking.h"
#include "text/win1251.h"

namespace tallo::engine {
namespace {

CommandKind KindOf(std::string_view text) {
    return ParseCommand(text).kind;
}

TEST(CommandConnect, QuotedOperandsAnyOrderAndDoubledQuotes) {
    const Command c =
        ParseCommand("connect 'C:\\DB\\it''s.fdb' password 'p''w' USER 'SYSDBA' role \"Mixed\" cache 75");
    ASSERT_EQ(c.kind, CommandKind::Connect);
    EXPECT_EQ(c.connect.database, "C:\\DB\\it's.fdb");
    EXPECT_EQ(c.connect.user, "SYSDBA");
    EXPECT_EQ(c.connect.password, "p'w");
    EXPECT_EQ(c.connect.role, "Mixed");
    EXPECT_EQ(c.connect.cache, 75);
}

TEST(CommandConnect, BareOperandsAndBareRoleInCapitals) {
    const Command c = ParseCommand("CONNECT localhost:/db/x.fdb USER sysdba PASSWORD masterkey ROLE admin");
    EXPECT_EQ(c.connect.database, "localhost:/db/x.fdb");
    EXPECT_EQ(c.connect.user, "sysdba");
    EXPECT_EQ(c.connect.password, "masterkey");
    EXPECT_EQ(c.connect.role, "ADMIN");
}

TEST(CommandConnect, WrongFormsAreCommandErrors) {
    EXPECT_THROW(ParseCommand("CONNECT"), CommandError);
    EXPECT_THROW(ParseCommand("CONNECT 'db' USER"), CommandError);
    EXPECT_THROW(ParseCommand("CONNECT 'db' COLOR 'red'"), CommandError);
    EXPECT_THROW(ParseCommand("CONNECT 'db' CACHE lots"), CommandError);
}

TEST(CommandOutput, BothSpellingsOfDelimiterAndItsThreeForms) {
    Command c = ParseCommand("output 'DBVersion.out' delimeter #9");
    ASSERT_EQ(c.kind, CommandKind::Output);
    EXPECT_EQ(c.arg, "DBVersion.out");
    EXPECT_EQ(c.delimiter, std::string("\t"));
    EXPECT_EQ(ParseCommand("OUTPUT x.txt DELIMITER '; '").delimiter, std::string("; "));
    EXPECT_EQ(ParseCommand("OUT x.txt Delimiter |").delimiter, std::string("|"));
    EXPECT_FALSE(ParseCommand("OUTP 'x.txt'").delimiter.has_value());
    EXPECT_EQ(KindOf("output"), CommandKind::OutputEnd);
    EXPECT_THROW(ParseCommand("output x delimiter #0"), CommandError);
    EXPECT_THROW(ParseCommand("output x delimiter ab"), CommandError);
    EXPECT_THROW(ParseCommand("output x separator ;"), CommandError);
}

TEST(CommandInputExit, AbbreviationsAndOperands) {
    EXPECT_EQ(ParseCommand("IN 'a b.sql'").arg, "a b.sql");
    EXPECT_EQ(ParseCommand("input x.sql").kind, CommandKind::Input);
    EXPECT_THROW(ParseCommand("INPUT"), CommandError);
    EXPECT_EQ(KindOf("exit"), CommandKind::Exit);
    EXPECT_EQ(KindOf("Quit"), CommandKind::Quit);
    EXPECT_EQ(KindOf("insert into t values (1)"), CommandKind::Sql);
    EXPECT_EQ(KindOf("outer_table"), CommandKind::Sql);
}

TEST(CommandTransactions, CommitAndRollbackForms) {
    EXPECT_EQ(KindOf("COMMIT WORK"), CommandKind::Commit);
    EXPECT_TRUE(ParseCommand("commit retain").retain);
    EXPECT_TRUE(ParseCommand("COMMIT WORK RETAIN SNAPSHOT").retain);
    EXPECT_EQ(KindOf("rollback work"), CommandKind::Rollback);
    EXPECT_FALSE(ParseCommand("rollback").retain);
    EXPECT_EQ(KindOf("ROLLBACK TO SAVEPOINT S1"), CommandKind::Sql);
    EXPECT_EQ(KindOf("SET TRANSACTION READ COMMITTED"), CommandKind::SetTransaction);
    EXPECT_EQ(ParseCommand("set trans wait").arg, "set trans wait");
}

TEST(CommandSet, ClientOptions) {
    EXPECT_EQ(ParseCommand("SET NAMES WIN1251").arg, "WIN1251");
    EXPECT_EQ(ParseCommand("set sql dialect 1").number, 1);
    EXPECT_THROW(ParseCommand("set sql dialect 4"), CommandError);
    EXPECT_EQ(ParseCommand("SET AUTODDL OFF").on, std::optional<bool>(false));
    EXPECT_EQ(ParseCommand("set auto on").on, std::optional<bool>(true));
    EXPECT_FALSE(ParseCommand("SET BAIL").on.has_value());
    EXPECT_THROW(ParseCommand("SET BAIL maybe"), CommandError);
    EXPECT_EQ(KindOf("SET TERM ^"), CommandKind::SetTerm);
    for (const char* text : {"SET TERM /", "SET TERM a-b", "SET TERM a*b"})
        EXPECT_THROW(ParseCommand(text), CommandError) << text;
}

TEST(CommandSet, ScreenOptionsAreIgnoredAndSqlSetsGoToTheDatabase) {
    for (const char* text : {"SET WARNINGS OFF", "SET BLOB ALL", "SET ECHO ON", "SET TIME ON", "SET"}) {
        EXPECT_EQ(KindOf(text), CommandKind::SetIgnored) << text;
    }
    EXPECT_EQ(KindOf("set list"), CommandKind::SetList);
    EXPECT_EQ(KindOf("SET STAT ON"), CommandKind::SetStats);
    const Command width = ParseCommand("set width name 10");
    EXPECT_EQ(width.arg, "NAME");
    EXPECT_EQ(width.number, 10);
    EXPECT_EQ(ParseCommand("SET WIDTH \"Name\"").arg, "Name");
    EXPECT_EQ(ParseCommand("SET WIDTH \"Name\"").number, 0);
    for (const char* text : {"SET WIDTH", "SET WIDTH X 0", "SET WIDTH X wide", "SET WIDTH X 5 6"})
        EXPECT_THROW(ParseCommand(text), CommandError) << text;
    EXPECT_EQ(ParseCommand("SET PLANONLY ON").kind, CommandKind::SetPlanOnly);
    EXPECT_EQ(ParseCommand("set plan off").on, std::optional<bool>(false));
    EXPECT_EQ(ParseCommand("SET ROWCOUNT 25").number, 25);
    EXPECT_EQ(ParseCommand("SET ROWCOUNT 99999999999").number, 2147483647);
    for (const char* text : {"SET ROWCOUNT", "SET ROWCOUNT -1", "SET ROWCOUNT x", "SET ROWCOUNT 1 2"})
        EXPECT_THROW(ParseCommand(text), CommandError) << text;
    for (const char* text : {"SET GENERATOR G TO 5", "SET STATISTICS INDEX I1", "SET TIME ZONE 'UTC'",
                             "SET ROLE R", "SET DECFLOAT ROUND CEILING"}) {
        EXPECT_EQ(KindOf(text), CommandKind::Sql) << text;
    }
}

TEST(CommandIsqlOnly, ShowIsKeptWholeAndInteractiveCommandsAreRefused) {
    EXPECT_EQ(KindOf("show tables"), CommandKind::Show);
    EXPECT_EQ(ParseCommand("SHOW TABLE \"a b\"").arg, "SHOW TABLE \"a b\"");
    EXPECT_EQ(KindOf("showcase"), CommandKind::Sql);
    for (const char* command :
         {"SHELL ls", "edit x.sql", "BLOBDUMP 1:2 f", "BlobView 1:2", "HELP", "ADD t", "COPY t other.fdb"}) {
        SCOPED_TRACE(command);
        try {
            ParseCommand(command);
            ADD_FAILURE() << "not refused";
        } catch (const CommandError& e) {
            // A message of its own naming the command, not the database's
            // "Token unknown".
            const std::string word =
                cp1251::Upper(std::string_view(command).substr(0, std::string_view(command).find(' ')));
            EXPECT_EQ(std::string(e.what()),
                      word + " is a command of isql's interactive session; a script run does not execute it");
        }
    }
    EXPECT_EQ(KindOf("helper_table"), CommandKind::Sql);
}

TEST(CommandDatabase, CreateAndDrop) {
    const Command c = ParseCommand("create database 'x.fdb' page_size 8192");
    EXPECT_EQ(c.kind, CommandKind::CreateDatabase);
    EXPECT_EQ(c.arg, "create database 'x.fdb' page_size 8192");
    EXPECT_EQ(KindOf("DROP DATABASE"), CommandKind::DropDatabase);
    EXPECT_EQ(KindOf("DROP TABLE T"), CommandKind::Sql);
    EXPECT_EQ(KindOf("CREATE TABLE T (A INT)"), CommandKind::Sql);
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
