#include "engine/firebird/statement_kind.h"

#include <gtest/gtest.h>

namespace tallo::engine::fb {
namespace {

using K = StatementKind;

TEST(StatementKinds, DmlWithoutReturningRunsAtOnce) {
    EXPECT_EQ(ClassifyStatement("insert into t values (1)"), K::Plain);
    EXPECT_EQ(ClassifyStatement("  -- note\n/* x */ UPDATE t set a = 1"), K::Plain);
    EXPECT_EQ(ClassifyStatement("delete from t"), K::Plain);
    EXPECT_EQ(ClassifyStatement("update or insert into t values (1) matching (a)"), K::Plain);
    EXPECT_EQ(ClassifyStatement("insert into t(returning_x) values (1)"), K::Plain);
    EXPECT_EQ(ClassifyStatement("insert into t values ('returning') -- returning"), K::Plain);
    EXPECT_EQ(ClassifyStatement("savepoint s1"), K::Plain);
}

TEST(StatementKinds, ResultsAndUnknownsArePrepared) {
    EXPECT_EQ(ClassifyStatement("select 1 from rdb$database"), K::Prepared);
    EXPECT_EQ(ClassifyStatement("with x as (select 1 a from rdb$database) select a from x"), K::Prepared);
    EXPECT_EQ(ClassifyStatement("insert into t values (1) returning id"), K::Prepared);
    EXPECT_EQ(ClassifyStatement("delete from t\nRETURNING a"), K::Prepared);
    EXPECT_EQ(ClassifyStatement("execute procedure p"), K::Prepared);
    EXPECT_EQ(ClassifyStatement("execute block as begin end"), K::Prepared);
    EXPECT_EQ(ClassifyStatement("(select 1 from rdb$database)"), K::Prepared);
    EXPECT_EQ(ClassifyStatement("rollback to savepoint s1"), K::Prepared);
    EXPECT_EQ(ClassifyStatement(""), K::Prepared);
}

TEST(StatementKinds, DataDefinition) {
    EXPECT_EQ(ClassifyStatement("create table t (a int)"), K::Ddl);
    EXPECT_EQ(ClassifyStatement("CREATE OR ALTER PROCEDURE p AS BEGIN END"), K::Ddl);
    EXPECT_EQ(ClassifyStatement("recreate view v as select 1 a from rdb$database"), K::Ddl);
    EXPECT_EQ(ClassifyStatement("alter table t add b int"), K::Ddl);
    EXPECT_EQ(ClassifyStatement("drop table t"), K::Ddl);
    EXPECT_EQ(ClassifyStatement("comment on table t is 'x'"), K::Ddl);
    EXPECT_EQ(ClassifyStatement("grant select on t to public"), K::Ddl);
    EXPECT_EQ(ClassifyStatement("set generator g to 5"), K::Ddl);
    EXPECT_EQ(
        ClassifyStatement("declare external function f returns int by value entry_point 'f' module_name 'm'"),
        K::Ddl);
}

TEST(StatementKinds, TransactionStatementsStayWithTheSession) {
    EXPECT_EQ(ClassifyStatement("commit"), K::Commit);
    EXPECT_EQ(ClassifyStatement("COMMIT WORK"), K::Commit);
    EXPECT_EQ(ClassifyStatement("commit retain"), K::CommitRetain);
    EXPECT_EQ(ClassifyStatement("commit work retain snapshot"), K::CommitRetain);
    EXPECT_EQ(ClassifyStatement("rollback"), K::Rollback);
    EXPECT_EQ(ClassifyStatement("rollback work retain"), K::RollbackRetain);
    EXPECT_EQ(ClassifyStatement("set transaction read only"), K::SetTransaction);
    EXPECT_EQ(ClassifyStatement("commit everything"), K::Prepared);  // left to the server's error
}

TEST(DatabaseTexts, ServerForms) {
    EXPECT_TRUE(IsServerDatabase("127.0.0.1:/var/db/a.fdb"));
    EXPECT_TRUE(IsServerDatabase("localhost:employee"));
    EXPECT_TRUE(IsServerDatabase("host/3051:/db/a.fdb"));
    EXPECT_TRUE(IsServerDatabase("server:C:\\db\\a.fdb"));
    EXPECT_TRUE(IsServerDatabase("\\\\server\\C:\\db\\a.fdb"));
    EXPECT_TRUE(IsServerDatabase("inet://host/db"));
    EXPECT_TRUE(IsServerDatabase("[::1]:/db/a.fdb"));
}

TEST(DatabaseTexts, LocalForms) {
    EXPECT_FALSE(IsServerDatabase("/var/db/a.fdb"));
    EXPECT_FALSE(IsServerDatabase("/var/db/odd:name.fdb"));
    EXPECT_FALSE(IsServerDatabase("./a:b.fdb"));
    EXPECT_FALSE(IsServerDatabase("C:\\db\\a.fdb"));
    EXPECT_FALSE(IsServerDatabase("c:/db/a.fdb"));
    EXPECT_FALSE(IsServerDatabase("employee"));
    EXPECT_FALSE(IsServerDatabase("a.fdb"));
}

}  // namespace
}  // namespace tallo::engine::fb
