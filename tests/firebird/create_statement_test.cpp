#include "engine/firebird/create_statement.h"

#include <gtest/gtest.h>

#include "tests/firebird/fb_test_support.h"

namespace tallo::engine::fb {
namespace {

TEST(CreateDatabaseCompletion, AddsMissingOptionsAfterTheFileName) {
    auto p = testing::SysdbaParams();
    EXPECT_EQ(CompleteCreateDatabase("CREATE DATABASE 'a.fdb' PAGE_SIZE 8192 DEFAULT CHARACTER SET UTF8", p),
              "CREATE DATABASE 'a.fdb' USER 'SYSDBA' PASSWORD 'masterkey' SET NAMES 'WIN1251' PAGE_SIZE 8192 "
              "DEFAULT CHARACTER SET UTF8");
}

TEST(CreateDatabaseCompletion, KeepsWhatTheStatementGives) {
    auto p = testing::SysdbaParams();
    std::string full = "create schema \"b.fdb\" user 'ME' password 'x' set names 'UTF8'";
    EXPECT_EQ(CompleteCreateDatabase(full, p), full);
    EXPECT_EQ(CompleteCreateDatabase("create database 'c.fdb' password 'p'", p),
              "create database 'c.fdb' USER 'SYSDBA' SET NAMES 'WIN1251' password 'p'");
}

TEST(CreateDatabaseCompletion, QuotesAndCommentsDoNotMislead) {
    auto p = testing::SysdbaParams();
    p.password = "it's";
    EXPECT_EQ(CompleteCreateDatabase("create database /* user */ 'user''s password.fdb' -- set names\n", p),
              "create database /* user */ 'user''s password.fdb' USER 'SYSDBA' PASSWORD 'it''s' SET NAMES "
              "'WIN1251' -- set names\n");
}

TEST(CreateDatabaseCompletion, NothingToAddWithoutSettings) {
    ConnectParams p;
    EXPECT_EQ(CompleteCreateDatabase("create database 'x.fdb'", p), "create database 'x.fdb'");
    EXPECT_EQ(CompleteCreateDatabase("create database", testing::SysdbaParams()), "create database");
}

}  // namespace
}  // namespace tallo::engine::fb
