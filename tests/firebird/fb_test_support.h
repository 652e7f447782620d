// Helpers for the Firebird session suites: a sink that keeps the rows, a
// fresh database in a temporary folder, and small query shortcuts.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/session.h"
#include "tests/support/temp_dir.h"

namespace tallo::testing {

using Values = std::vector<std::optional<std::string>>;

class RecordingSink : public engine::RowSink {
  public:
    void Begin(const std::vector<engine::Column>& c) override {
        columns = c;
        ++begins;
    }
    void Row(const Values& values) override { rows.push_back(values); }
    void End() override { ++ends; }

    std::vector<engine::Column> columns;
    std::vector<Values> rows;
    int begins = 0;
    int ends = 0;
};

inline engine::ConnectParams SysdbaParams(const std::string& database = {}) {
    engine::ConnectParams p;
    p.database = database;
    p.user = "SYSDBA";
    p.password = "masterkey";
    p.charset = "WIN1251";
    return p;
}

// Creates the database at path as SYSDBA with a table t (a <type>) and, in
// the open transaction, one row (a) = (value).
inline void CreateWithOneRow(engine::Session& session, const std::string& path, const std::string& type,
                             const std::string& value) {
    std::string create = "create database '";
    session.CreateDatabase(create.append(path).append("'"), SysdbaParams());
    std::string table = "create table t (a ";
    session.Execute(table.append(type).append(")"), nullptr);
    session.Commit(false);
    std::string insert = "insert into t values (";
    session.Execute(insert.append(value).append(")"), nullptr);
}

// The rows of a query, formatted by the session.
inline std::vector<Values> Query(engine::Session& session, const std::string& sql) {
    RecordingSink sink;
    session.Execute(sql, &sink);
    return sink.rows;
}

// The single value of a one-row, one-column query.
inline std::optional<std::string> Scalar(engine::Session& session, const std::string& sql) {
    auto rows = Query(session, sql);
    if (rows.size() != 1 || rows[0].size() != 1)
        throw std::runtime_error("not one value: " + sql);
    return rows[0][0];
}

// The SessionError a call raises (fails the test when it raises none).
template <class F>
engine::SessionError ErrorOf(F&& call) {
    try {
        call();
    } catch (const engine::SessionError& e) {
        return e;
    }
    ADD_FAILURE() << "no SessionError raised";
    return engine::SessionError("");
}

}  // namespace tallo::testing
