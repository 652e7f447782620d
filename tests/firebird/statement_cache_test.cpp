// Which statements the session runs through a kept prepared statement: the
// database lists its prepared statements (MON$STATEMENTS), where a kept one
// shows its shape with "?" markers.
#include <gtest/gtest.h>

#include "engine/firebird/statement_cache.h"
#include "tests/firebird/fb_test_support.h"

namespace tallo::testing {
namespace {

class StatementCache : public ::testing::Test {
  protected:
    void SetUp() override {
        session = engine::MakeFirebirdSession();
        session->CreateDatabase("CREATE DATABASE '" + (dir / "cache.fdb") + "'", SysdbaParams());
        for (const char* ddl :
             {"CREATE TABLE t (id INTEGER NOT NULL PRIMARY KEY, v VARCHAR(10), n NUMERIC(9,2), "
              "d DATE, b BLOB SUB_TYPE TEXT)",
              "CREATE PROCEDURE p (a INTEGER) AS BEGIN END",
              "CREATE PROCEDURE q (a INTEGER) RETURNS (r INTEGER) AS BEGIN r = a; END"})
            session->Execute(ddl, nullptr);
        session->Commit(false);
    }
    void TearDown() override { session->Disconnect(false); }

    // The shapes the attachment keeps prepared (the monitoring tables are
    // read once a transaction).
    std::vector<std::string> Kept() {
        session->Commit(false);
        std::vector<std::string> shapes;
        for (const auto& row : Query(*session,
                                     "select mon$sql_text from mon$statements where mon$attachment_id = "
                                     "current_connection and mon$sql_text containing ascii_char(63)"))
            shapes.push_back(*row[0]);
        return shapes;
    }

    TempDir dir;
    std::unique_ptr<engine::Session> session;
};

TEST_F(StatementCache, KeepsOnlyShapesThatRunTheSameAsWritten) {
    struct Case {
        std::string first, second;  // the same shape twice
        std::string kept;           // the shape kept, empty for none
    };
    const Case cases[] = {
        {"INSERT INTO t (id, v) VALUES (1, 'a')", "INSERT INTO t (id, v) VALUES (-2, _WIN1251 'b')",
         "INSERT INTO t (id, v) VALUES (?, ?)"},
        {"UPDATE t SET n = 1.5, d = DATE '2024-01-01' WHERE id = 1",
         "UPDATE t SET n = 2, d = NULL WHERE id = 2", "UPDATE t SET n = ?, d = ? WHERE id = ?"},
        {"DELETE FROM t WHERE id = 5 AND v = 'x'", "DELETE FROM t WHERE id = 6 AND v = 'y'",
         "DELETE FROM t WHERE id = ? AND v = ?"},
        {"EXECUTE PROCEDURE p (1)", "EXECUTE PROCEDURE p 2", ""},  // two shapes, each once
        {"EXECUTE PROCEDURE p (1)", "EXECUTE PROCEDURE p (3)", "EXECUTE PROCEDURE p (?)"},
        // Output, expressions, comments, exponents, blobs, RETURNING: as
        // written.
        {"EXECUTE PROCEDURE q (1)", "EXECUTE PROCEDURE q (2)", ""},
        {"UPDATE t SET n = n + 1 WHERE id = 1", "UPDATE t SET n = n + 1 WHERE id = 2", ""},
        {"INSERT INTO t (id) VALUES (/* c */ 10)", "INSERT INTO t (id) VALUES (/* c */ 11)", ""},
        {"UPDATE t SET n = 1e3 WHERE id = 1", "UPDATE t SET n = 2e3 WHERE id = 1", ""},
        {"INSERT INTO t (id, b) VALUES (20, 'x')", "INSERT INTO t (id, b) VALUES (21, 'y')", ""},
        {"INSERT INTO t (id) VALUES (40) RETURNING id", "INSERT INTO t (id) VALUES (41) RETURNING id", ""},
    };
    for (const Case& c : cases) {
        session->Execute(c.first, nullptr);
        session->Execute(c.second, nullptr);
        const std::vector<std::string> kept = Kept();
        if (c.kept.empty()) {
            EXPECT_TRUE(kept.empty()) << c.first << " kept " << kept[0];
        } else {
            EXPECT_EQ(kept, std::vector<std::string>{c.kept}) << c.first;
        }
        // Data definition frees them all.
        session->Execute("COMMENT ON TABLE t IS 'x'", nullptr);
        EXPECT_TRUE(Kept().empty()) << c.first;
    }
}

TEST_F(StatementCache, KeepsAtMostItsCapacity) {
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; i < engine::fb::StatementCache::kCapacity + 4; ++i) {
            std::string columns = "id" + std::string(i, ' ');
            session->Execute("DELETE FROM t WHERE " + columns + " = " + std::to_string(round), nullptr);
        }
    }
    EXPECT_EQ(Kept().size(), engine::fb::StatementCache::kCapacity);
}

TEST_F(StatementCache, CharsetNumbersAreTheDatabases) {
    for (const auto& row : Query(*session,
                                 "select trim(rdb$character_set_name), rdb$character_set_id, "
                                 "rdb$bytes_per_character from rdb$character_sets")) {
        unsigned id = 0, max_bytes = 0;
        if (engine::fb::CharsetByName(*row[0], id, max_bytes)) {
            EXPECT_EQ(std::to_string(id), *row[1]) << *row[0];
            EXPECT_EQ(std::to_string(max_bytes), *row[2]) << *row[0];
        }
    }
}

}  // namespace
}  // namespace tallo::testing
