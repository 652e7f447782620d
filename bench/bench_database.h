// The database the Firebird benchmarks fill with their INSERT scripts.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace bench {

// Creates db afresh, with the table the INSERT scripts fill, by the isql
// script it writes into folder; run_isql runs isql-fb on that script's path
// and answers its exit code. A failure ends the benchmark with exit code 2.
template <class RunIsql>
void MakeBenchDatabase(const std::filesystem::path& db, const std::filesystem::path& folder,
                       RunIsql run_isql) {
    std::filesystem::remove(db);
    const std::filesystem::path sql = folder / "create.sql";
    std::ofstream(sql) << "create database '" << db.string()
                       << "' user SYSDBA default character set WIN1251;\n"
                          "create table bench (id integer, name varchar(60), amount numeric(12,2));\n"
                          "commit;\nexit;\n";
    if (run_isql(sql.string()) != 0) {
        std::fprintf(stderr, "cannot create %s\n", db.c_str());
        std::exit(2);
    }
}

}  // namespace bench
