// The session against the tests' private loopback server (the CTest fixture
// starts it; password masterkey).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "tests/firebird/fb_test_support.h"
#include "tests/support/test_server.h"

namespace tallo::testing {
namespace {

class ServerSession : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_THROW(StartTestServer());
        database = TestServerDatabase(dir / "server.fdb");
    }
    TempDir dir;  // mode 0777: the server (user firebird) writes there
    std::string database;
};

TEST_F(ServerSession, HostPathCreatesAndConnectsOverTheNetwork) {
    auto session = engine::MakeFirebirdSession();
    CreateWithOneRow(*session, database, "varchar(10)", "'\xCF\xF0\xE8'");
    session->Disconnect(true);

    session->Connect(SysdbaParams(database));
    EXPECT_EQ(
        Scalar(
            *session,
            "select mon$remote_protocol from mon$attachments where mon$attachment_id = current_connection"),
        "TCPv4");
    EXPECT_EQ(Scalar(*session, "select a from t"), "\xCF\xF0\xE8");
    session->DropDatabase();
}

TEST_F(ServerSession, WrongPasswordIsFirebirdsLoginText) {
    auto creator = engine::MakeFirebirdSession();
    creator->CreateDatabase("create database '" + database + "'", SysdbaParams());
    creator->Disconnect(true);

    auto session = engine::MakeFirebirdSession();
    auto params = SysdbaParams(database);
    params.password = "wrong";
    auto e = ErrorOf([&] { session->Connect(params); });
    EXPECT_STREQ(e.what(),
                 "Your user name and password are not defined. Ask your database administrator to set up a "
                 "Firebird login.");
    EXPECT_EQ(e.sqlstate, "28000");
    EXPECT_FALSE(e.connection_lost);
    EXPECT_FALSE(session->Connected());
}

TEST_F(ServerSession, NoServerAtTheAddressIsAConnectError) {
    auto session = engine::MakeFirebirdSession();
    auto e = ErrorOf([&] { session->Connect(SysdbaParams("127.0.0.1/1:" + dir / "x.fdb")); });
    EXPECT_NE(std::string(e.what()).find("Unable to complete network request"), std::string::npos)
        << e.what();
    EXPECT_FALSE(e.connection_lost);  // nothing was attached
}

// The server dies in the middle of a run: the next statement reports one
// lost connection, the session lets go of the attachment, and nothing
// waits on the dead peer.
TEST_F(ServerSession, KilledServerIsOneLostConnection) {
    auto session = engine::MakeFirebirdSession();
    CreateWithOneRow(*session, database, "int", "1");

    KillTestServer();

    auto lost = ErrorOf([&] { session->Execute("insert into t values (2)", nullptr); });
    EXPECT_TRUE(lost.connection_lost) << lost.what();
    EXPECT_FALSE(session->Connected());
    EXPECT_FALSE(session->InTransaction());
    auto after = ErrorOf([&] { session->Execute("insert into t values (3)", nullptr); });
    EXPECT_FALSE(after.connection_lost);
    EXPECT_NO_THROW(session->Disconnect(true));
    EXPECT_NO_THROW(session->Commit(false));

    StartTestServer();
}

}  // namespace
}  // namespace tallo::testing
