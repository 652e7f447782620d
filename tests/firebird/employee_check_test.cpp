// Firebird's own example script (employee.sql) run through the engine
// library and through isql-fb into two fresh databases: both must end up
// with the same metadata and the same data, dumped the same way.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>

#include "ibescript.h"
#include "tests/firebird/fb_test_support.h"

namespace tallo::testing {

int RunEngineScript(const std::string& text, std::vector<std::string>& errors);

namespace {

constexpr const char* kEmployeeSql = "/usr/share/doc/firebird3.0-common-doc/examples/employee.sql.gz";

std::string ReadGzip(const char* path) {
    gzFile f = ::gzopen(path, "rb");
    if (!f)
        throw std::runtime_error(std::string("cannot open ") + path);
    std::string text;
    char buf[65536];
    int n;
    while ((n = ::gzread(f, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    ::gzclose(f);
    return text;
}

}  // namespace

// One line per metadata or data row, each query's lines sorted.
std::vector<std::string> Dump(const std::string& database) {
    auto session = engine::MakeFirebirdSession();
    session->Connect(SysdbaParams(database));
    std::vector<std::string> lines;
    auto add = [&](const std::string& title, const std::string& sql) {
        std::vector<std::string> part;
        for (const auto& row : Query(*session, sql)) {
            std::string line = title;
            for (const auto& v : row)
                line.append("|").append(v.value_or("<null>"));
            part.push_back(line);
        }
        std::sort(part.begin(), part.end());
        lines.insert(lines.end(), part.begin(), part.end());
    };
    add("database", "select rdb$character_set_name from rdb$database");
    add("relation",
        "select rdb$relation_name, rdb$view_source, rdb$relation_type from rdb$relations where "
        "rdb$system_flag = 0");
    add("field",
        "select rdb$relation_name, rdb$field_name, rdb$field_position, rdb$field_source, rdb$null_flag, "
        "rdb$default_source from rdb$relation_fields where rdb$system_flag = 0");
    add("domain",
        "select rdb$field_name, rdb$field_type, rdb$field_sub_type, rdb$field_length, rdb$field_scale, "
        "rdb$field_precision, rdb$character_set_id, rdb$null_flag, rdb$validation_source, "
        "rdb$default_source, "
        "rdb$computed_source from rdb$fields where rdb$system_flag = 0");
    add("index",
        "select i.rdb$index_name, i.rdb$relation_name, i.rdb$unique_flag, i.rdb$index_type, "
        "s.rdb$field_name, s.rdb$field_position, i.rdb$foreign_key from rdb$indices i "
        "join rdb$index_segments s on s.rdb$index_name = i.rdb$index_name where i.rdb$system_flag = 0");
    add("constraint",
        "select rdb$constraint_name, rdb$constraint_type, rdb$relation_name, rdb$index_name "
        "from rdb$relation_constraints where rdb$relation_name not starting with 'RDB$'");
    add("reference",
        "select rdb$constraint_name, rdb$const_name_uq, rdb$update_rule, rdb$delete_rule from "
        "rdb$ref_constraints");
    add("procedure",
        "select rdb$procedure_name, rdb$procedure_source from rdb$procedures where rdb$system_flag = 0");
    add("parameter",
        "select rdb$procedure_name, rdb$parameter_name, rdb$parameter_number, rdb$parameter_type, "
        "rdb$field_source from rdb$procedure_parameters where rdb$system_flag = 0");
    add("trigger",
        "select rdb$trigger_name, rdb$relation_name, rdb$trigger_type, rdb$trigger_sequence, "
        "rdb$trigger_inactive, rdb$trigger_source from rdb$triggers where rdb$system_flag = 0");
    add("exception", "select rdb$exception_name, rdb$message from rdb$exceptions where rdb$system_flag = 0");
    add("privilege",
        "select rdb$user, rdb$grantor, rdb$privilege, rdb$grant_option, rdb$relation_name, rdb$field_name "
        "from rdb$user_privileges where rdb$relation_name not starting with 'RDB$' "
        "and rdb$relation_name not starting with 'MON$' and rdb$relation_name not starting with 'SEC$'");
    std::vector<std::string> generators;
    for (const auto& row :
         Query(*session,
               "select trim(rdb$generator_name) from rdb$generators where rdb$system_flag = 0 order by 1")) {
        generators.push_back(*row[0]);
    }
    for (const auto& g : generators)
        add("generator " + g, "select gen_id(\"" + g + "\", 0) from rdb$database");
    std::vector<std::string> tables;
    for (const auto& row :
         Query(*session,
               "select trim(rdb$relation_name) from rdb$relations where rdb$system_flag = 0 "
               "and rdb$view_blr is null order by 1")) {
        tables.push_back(*row[0]);
    }
    for (const auto& t : tables)
        add("row " + t, "select * from \"" + t + "\"");
    session->Disconnect(true);
    return lines;
}

// The example script, creating the database at path.
std::string EmployeeScript(const std::string& path) {
    std::string script = ReadGzip(kEmployeeSql);
    const std::string create = "create database 'employee.fdb';";
    std::size_t at = script.find(create);
    if (at == std::string::npos)
        throw std::runtime_error("the example creates no employee.fdb");
    script.replace(at, create.size(), "create database '" + path + "' user 'SYSDBA';");
    return script;
}

namespace {

TEST(EmployeeExample, EngineAndIsqlBuildTheSameDatabase) {
    TempDir dir;
    std::string ours = dir / "ours.fdb", theirs = dir / "isql.fdb";

    std::vector<std::string> errors;
    EXPECT_EQ(RunEngineScript(EmployeeScript(ours), errors), 0) << (errors.empty() ? "" : errors[0]);

    WriteBytes(dir / "employee.sql", EmployeeScript(theirs));
    std::string command = "isql-fb -q -b -i '" + dir / "employee.sql" + "' > '" + dir / "isql.log" + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadBytes(dir / "isql.log");

    auto a = Dump(ours), b = Dump(theirs);
    EXPECT_GT(a.size(), 300u);  // the example's tables hold some hundred rows
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        ASSERT_EQ(a[i], b[i]) << "line " << i;
}

}  // namespace
}  // namespace tallo::testing
