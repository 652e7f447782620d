// The session against real embedded databases in temporary folders.
#include <gtest/gtest.h>

#include "tests/firebird/fb_test_support.h"

namespace tallo::testing {
namespace {

using engine::SessionError;

class EmbeddedSession : public ::testing::Test {
  protected:
    void SetUp() override {
        session = engine::MakeFirebirdSession();
        session->CreateDatabase("CREATE DATABASE '" + path + "'", SysdbaParams());
    }
    void TearDown() override {
        if (session)
            session->Disconnect(false);
    }
    void Exec(const std::string& sql) { session->Execute(sql, nullptr); }

    TempDir dir;
    std::string path = dir / "test.fdb";
    std::unique_ptr<engine::Session> session;
};

// --- connections ---

TEST_F(EmbeddedSession, CreateLeavesTheNewDatabaseAttachedWithTheSessionSettings) {
    EXPECT_TRUE(session->Connected());
    EXPECT_EQ(Scalar(*session, "select current_user from rdb$database"), "SYSDBA");
    // WIN1251 is character set 52; no remote protocol means in-process.
    EXPECT_EQ(Query(*session,
                    "select mon$character_set_id, mon$remote_protocol from mon$attachments "
                    "where mon$attachment_id = current_connection"),
              (std::vector<Values>{{"52", std::nullopt}}));
}

TEST_F(EmbeddedSession, LocalPathReconnectsEmbedded) {
    session->Disconnect(true);
    EXPECT_FALSE(session->Connected());
    session->Connect(SysdbaParams(path));
    EXPECT_TRUE(session->Connected());
    EXPECT_EQ(Scalar(*session,
                     "select coalesce(mon$remote_protocol, 'embedded') from mon$attachments "
                     "where mon$attachment_id = current_connection"),
              "embedded");
}

TEST_F(EmbeddedSession, MissingDatabaseFileIsFirebirdsError) {
    auto other = engine::MakeFirebirdSession();
    auto e = ErrorOf([&] { other->Connect(SysdbaParams(dir / "nothing.fdb")); });
    EXPECT_NE(std::string(e.what()).find("nothing.fdb"), std::string::npos) << e.what();
    EXPECT_FALSE(e.connection_lost);
    EXPECT_FALSE(other->Connected());
}

TEST_F(EmbeddedSession, StatementsWithoutAttachmentAreRefused) {
    session->Disconnect(true);
    auto e = ErrorOf([&] { Exec("select 1 from rdb$database"); });
    EXPECT_STREQ(e.what(), "No database is connected");
    EXPECT_FALSE(e.connection_lost);
    session->Disconnect(true);  // nothing to end: no failure
}

TEST_F(EmbeddedSession, DropDatabaseRemovesTheFile) {
    Exec("create table t (a int)");
    session->DropDatabase();
    EXPECT_FALSE(session->Connected());
    EXPECT_FALSE(std::filesystem::exists(path));
}

// --- transactions ---

TEST_F(EmbeddedSession, DdlIsReportedSoItCanBeCommittedBeforeUse) {
    EXPECT_TRUE(session->Execute("create table t (a int)", nullptr).ddl);
    EXPECT_TRUE(session->Execute("recreate procedure p as begin end", nullptr).ddl);
    session->Commit(false);
    EXPECT_FALSE(session->Execute("insert into t values (1)", nullptr).ddl);
    EXPECT_FALSE(session->Execute("select a from t", nullptr).ddl);
    EXPECT_EQ(Scalar(*session, "select count(*) from t"), "1");
}

TEST_F(EmbeddedSession, UncommittedTableTakesNoRows) {
    Exec("create table t (a int)");
    auto e = ErrorOf([&] { Exec("insert into t values (1)"); });
    EXPECT_NE(std::string(e.what()).find("Table unknown"), std::string::npos) << e.what();
}

TEST_F(EmbeddedSession, MainTransactionStartsAtAttachmentAndAgainAtTheNextStatement) {
    EXPECT_TRUE(session->InTransaction());
    Exec("create table t (a int)");
    session->Commit(false);
    EXPECT_FALSE(session->InTransaction());
    // A row inserted, then its transaction ended one way; the rows kept.
    struct End {
        const char* row;
        bool commit, retain;
        const char* kept;
    };
    for (const End& end :
         {End{"1", false, false, ""}, End{"2", true, true, "2"}, End{"3", false, true, "2"}}) {
        Exec(std::string("insert into t values (") + end.row + ")");
        if (end.commit)
            session->Commit(end.retain);
        else
            session->Rollback(end.retain);
        EXPECT_EQ(session->InTransaction(), end.retain) << end.row;
        EXPECT_EQ(Scalar(*session, "select coalesce(list(a), '') from t"), end.kept) << end.row;
        EXPECT_TRUE(session->InTransaction()) << end.row;
    }
}

TEST_F(EmbeddedSession, TransactionStatementsInTheTextActOnTheMainTransaction) {
    Exec("create table t (a int)");
    Exec("COMMIT WORK");
    Exec("insert into t values (1)");
    Exec("rollback work");
    Exec("insert into t values (2)");
    Exec("commit retain");
    EXPECT_TRUE(session->InTransaction());
    Exec("savepoint s1");
    Exec("insert into t values (3)");
    Exec("rollback to savepoint s1");
    EXPECT_EQ(Scalar(*session, "select list(a) from t"), "2");
}

TEST_F(EmbeddedSession, SetTransactionRollsBackTheOpenOneAndStartsItsOwn) {
    Exec("create table t (a int)");
    session->Commit(false);
    Exec("insert into t values (1)");
    session->SetTransaction("SET TRANSACTION READ ONLY");
    EXPECT_TRUE(session->InTransaction());
    auto e = ErrorOf([&] { Exec("insert into t values (2)"); });
    EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
    EXPECT_EQ(Scalar(*session, "select count(*) from t"), "0");  // the first insert was rolled back
    session->Commit(false);
    Exec("insert into t values (3)");  // back to the default: read write
    EXPECT_EQ(Scalar(*session, "select count(*) from t"), "1");
}

TEST_F(EmbeddedSession, DisconnectCommitsOrRollsBack) {
    Exec("create table t (a int)");
    session->Commit(false);
    Exec("insert into t values (1)");
    session->Disconnect(false);
    session->Connect(SysdbaParams(path));
    EXPECT_EQ(Scalar(*session, "select count(*) from t"), "0");
    Exec("insert into t values (2)");
    session->Disconnect(true);
    session->Connect(SysdbaParams(path));
    EXPECT_EQ(Scalar(*session, "select count(*) from t"), "1");
}

TEST_F(EmbeddedSession, ConnectToAnotherDatabaseRollsBackTheOpenTransaction) {
    Exec("create table t (a int)");
    session->Commit(false);
    Exec("insert into t values (1)");
    std::string second = dir / "second.fdb";
    session->CreateDatabase("create database '" + second + "'", SysdbaParams());
    session->Connect(SysdbaParams(path));
    EXPECT_EQ(Scalar(*session, "select count(*) from t"), "0");
}

// AUTODDL: DDL commits on its own, its failed commit is its own failure, and
// the main transaction keeps its work and its snapshot but may use the new
// objects.
TEST_F(EmbeddedSession, AutoddlRunsDdlApartFromTheMainTransaction) {
    engine::SessionOptions options;
    options.autoddl = true;
    session->SetOptions(options);
    Exec("create table test (k int not null primary key, ref int)");
    Exec("insert into test values (1, -1)");
    session->Commit(false);
    Exec("create table other (id int)");
    Exec("insert into other values (42)");  // the main snapshot is older than the table
    EXPECT_EQ(Scalar(*session, "select count(*) from rdb$relations where rdb$relation_name = 'OTHER'"), "0");
    auto e =
        ErrorOf([&] { Exec("alter table test add constraint fk foreign key (ref) references test (k)"); });
    EXPECT_NE(std::string(e.what()).find("FOREIGN KEY"), std::string::npos) << e.what();
    Exec("insert into other values (43)");
    session->Commit(false);
    EXPECT_EQ(Scalar(*session, "select list(id) from (select id from other order by id)"), "42,43");
    EXPECT_EQ(Scalar(*session,
                     "select count(*) from rdb$relation_constraints where rdb$constraint_type = "
                     "'FOREIGN KEY'"),
              "0");
    session->Rollback(false);
    session->SetOptions({});  // DDL in the main transaction again: gone with a rollback
    Exec("create table gone (a int)");
    session->Rollback(false);
    EXPECT_EQ(Scalar(*session, "select count(*) from rdb$relations where rdb$relation_name = 'GONE'"), "0");
}

// --- rows and values ---

TEST_F(EmbeddedSession, EachTypeHasItsTextForm) {
    Exec(
        "create table v (sm smallint, i integer, bi bigint, n numeric(10,2), d4 decimal(18,4), f float, "
        "dp double precision, c char(6), vc varchar(10), oc char(3) character set octets, dt date, "
        "tm time, ts timestamp, b boolean, tb blob sub_type text, bb blob sub_type binary)");
    session->Commit(false);
    Exec(
        "insert into v values (-7, 2147483647, -9223372036854775808, 12.5, -0.0005, 0.1, 1e-300, "
        "'ab', 'xy  ', x'00FF41', '2024-02-29', '13:14:15.1234', '1999-12-31 23:59:59.9999', false, "
        "'text blob', x'DEADBEEF')");
    RecordingSink sink;
    session->Execute("select * from v", &sink);
    ASSERT_EQ(sink.rows.size(), 1u);
    EXPECT_EQ(sink.rows[0], (Values{"-7", "2147483647", "-9223372036854775808", "12.50", "-0.0005", "0.1",
                                    "1e-300", "ab", "xy  ", "00FF41", "2024-02-29", "13:14:15.1234",
                                    "1999-12-31 23:59:59.9999", "FALSE", "text blob", "DEADBEEF"}));
    ASSERT_EQ(sink.columns.size(), 16u);
    EXPECT_EQ(sink.columns[0].name, "SM");
    EXPECT_TRUE(sink.columns[3].numeric);
    EXPECT_FALSE(sink.columns[7].numeric);
    EXPECT_EQ(sink.begins, 1);
    EXPECT_EQ(sink.ends, 1);
}

TEST_F(EmbeddedSession, NullsAreAbsentValuesAndAliasesNameColumns) {
    RecordingSink sink;
    session->Execute(
        "select cast(null as integer) as \"First\", cast(null as varchar(5)) x, true y "
        "from rdb$database",
        &sink);
    EXPECT_EQ(sink.rows, (std::vector<Values>{{std::nullopt, std::nullopt, "TRUE"}}));
    EXPECT_EQ(sink.columns[0].name, "First");
    EXPECT_EQ(sink.columns[1].name, "X");
}

TEST_F(EmbeddedSession, EmptyResultStillBeginsAndEnds) {
    RecordingSink sink;
    session->Execute("select 1 a from rdb$database where 1 = 0", &sink);
    EXPECT_EQ(sink.begins, 1);
    EXPECT_EQ(sink.ends, 1);
    EXPECT_TRUE(sink.rows.empty());
}

TEST_F(EmbeddedSession, ManyRowsReuseNothingStale) {
    Exec("create table t (a int, b varchar(5))");
    session->Commit(false);
    Exec(
        "execute block as declare i int = 0; begin while (i < 500) do begin "
        "insert into t values (:i, iif(mod(:i, 3) = 0, null, 'r' || :i)); i = i + 1; end end");
    auto rows = Query(*session, "select a, b from t order by a");
    ASSERT_EQ(rows.size(), 500u);
    for (int i = 0; i < 500; ++i) {
        EXPECT_EQ(rows[i][0], std::to_string(i));
        EXPECT_EQ(rows[i][1], i % 3 == 0
                                  ? std::nullopt
                                  : std::optional<std::string>(std::string("r").append(std::to_string(i))));
    }
}

TEST_F(EmbeddedSession, Windows1251BytesRoundTripUnchanged) {
    // "Привет, мир" and the whole upper half of the code page but 0x98.
    std::string cyrillic = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0";
    std::string high;
    for (int c = 0x80; c <= 0xFF; ++c) {
        if (c != 0x98)
            high.push_back(static_cast<char>(c));
    }
    Exec(
        "create table w (a varchar(200) character set win1251, b blob sub_type text character set win1251, "
        "c char(20) character set win1251, d varchar(200))");
    session->Commit(false);
    Exec("insert into w values ('" + cyrillic + "', '" + high + "', '" + cyrillic + "', '" + high + "')");
    auto rows = Query(*session, "select a, b, c, d from w");
    EXPECT_EQ(rows, (std::vector<Values>{{cyrillic, high, cyrillic, high}}));
}

TEST_F(EmbeddedSession, ProceduresAndBlocksAnswerRows) {
    Exec("create procedure sq (n int) returns (r int) as begin r = n * n; end");
    Exec(
        "create procedure gen (n int) returns (i int) as begin i = 0; while (i < n) do begin i = i + 1; "
        "suspend; end end");
    session->Commit(false);
    EXPECT_EQ(Query(*session, "execute procedure sq(7)"), (std::vector<Values>{{"49"}}));
    EXPECT_EQ(Query(*session, "select i from gen(3)"), (std::vector<Values>{{"1"}, {"2"}, {"3"}}));
    EXPECT_EQ(Query(*session,
                    "execute block returns (x varchar(3)) as begin x = 'a'; suspend; x = 'b'; suspend; end"),
              (std::vector<Values>{{"a"}, {"b"}}));
}

TEST_F(EmbeddedSession, ReturningAnswersOneRowAndCountsNone) {
    Exec("create table t (id int generated by default as identity, a varchar(3))");
    session->Commit(false);
    RecordingSink sink;
    auto result = session->Execute("insert into t (a) values ('x') returning id, a", &sink);
    EXPECT_EQ(sink.rows, (std::vector<Values>{{"1", "x"}}));
    EXPECT_EQ(result.rows_affected, -1);  // isql shows no count for it
}

TEST_F(EmbeddedSession, VersionQueryOfTheToolReadsDbVersion) {
    Exec("create table db_version (Version varchar(20))");
    session->Commit(false);
    Exec("insert into db_version values ('3.1.7')");
    EXPECT_EQ(Query(*session, "select Version from db_version output"), (std::vector<Values>{{"3.1.7"}}));
}

// --- errors ---

TEST_F(EmbeddedSession, SyntaxErrorCarriesTextAndSqlstate) {
    auto e = ErrorOf([&] { Exec("selec 1 from rdb$database"); });
    EXPECT_EQ(e.sqlstate, "42000");
    EXPECT_NE(std::string(e.what()).find("Token unknown"), std::string::npos) << e.what();
    EXPECT_FALSE(e.user_exception);
    EXPECT_FALSE(e.connection_lost);
    EXPECT_TRUE(session->Connected());
}

TEST_F(EmbeddedSession, MissingTableTextHasCrLfLines) {
    auto e = ErrorOf([&] { Exec("select * from no_such_table"); });
    EXPECT_EQ(e.sqlstate, "42S02");
    EXPECT_EQ(std::string(e.what()),
              "Dynamic SQL Error\r\n-SQL error code = -204\r\n-Table unknown\r\n-NO_SUCH_TABLE\r\n"
              "-At line 1, column 15");
}

TEST_F(EmbeddedSession, DuplicateKey) {
    Exec("create table t (a int primary key)");
    session->Commit(false);
    Exec("insert into t values (1)");
    auto e = ErrorOf([&] { Exec("insert into t values (1)"); });
    EXPECT_EQ(e.sqlstate, "23000");
    EXPECT_NE(std::string(e.what()).find("violation of PRIMARY or UNIQUE KEY constraint"), std::string::npos)
        << e.what();
    // The failed statement leaves the transaction and its earlier work alone.
    EXPECT_EQ(Scalar(*session, "select count(*) from t"), "1");
}

TEST_F(EmbeddedSession, UserExceptionMessageIsItsOwnTextAlone) {
    Exec("create exception e_stop 'Stopped by the script'");
    session->Commit(false);
    // "Обновите клиент" in Windows-1251.
    std::string text = "MSG: \xCE\xE1\xED\xEE\xE2\xE8\xF2\xE5 \xEA\xEB\xE8\xE5\xED\xF2";
    auto custom = ErrorOf([&] { Exec("execute block as begin exception e_stop '" + text + "'; end"); });
    EXPECT_TRUE(custom.user_exception);
    EXPECT_EQ(custom.what(), text);
    EXPECT_FALSE(custom.sqlstate.empty());
    auto plain = ErrorOf([&] { Exec("execute block as begin exception e_stop; end"); });
    EXPECT_TRUE(plain.user_exception);
    EXPECT_STREQ(plain.what(), "Stopped by the script");
}

TEST_F(EmbeddedSession, UserExceptionFromATriggerDuringInsert) {
    Exec("create exception e_bad 'bad'");
    Exec("create table t (a int)");
    session->Commit(false);
    Exec(
        "create trigger t_bi for t before insert as begin if (new.a < 0) then exception e_bad 'MSG: negative "
        "' "
        "|| new.a; end");
    session->Commit(false);
    auto e = ErrorOf([&] { Exec("insert into t values (-5)"); });
    EXPECT_TRUE(e.user_exception);
    EXPECT_STREQ(e.what(), "MSG: negative -5");
}

TEST_F(EmbeddedSession, FailingFetchLeavesTheSinkUntouched) {
    RecordingSink sink;
    auto e = ErrorOf([&] { session->Execute("select 1 / 0 from rdb$database", &sink); });
    EXPECT_EQ(e.sqlstate, "22012");
    EXPECT_EQ(sink.begins, 0);
}

}  // namespace
}  // namespace tallo::testing
