// tallo-run against several databases: the built runner and engine on six
// embedded databases at two versions, the reports read back by python3 and
// xmllint, and runs killed or interrupted midway.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/engine_runs.h"
#include "tests/cli/process.h"
#include "tests/support/temp_dir.h"

namespace tallo::testing {
namespace {

namespace fs = std::filesystem;

const std::string kPassword = "fleet-secret-9";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Pids of the processes whose command line holds every one of the parts.
std::vector<pid_t> ProcessesWith(const std::vector<std::string>& parts) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string cmdline = ReadAll(entry.path() / "cmdline");
        for (char& c : cmdline)
            c = c == '\0' ? ' ' : c;
        bool all = !cmdline.empty();
        for (const auto& part : parts)
            all = all && cmdline.find(part) != std::string::npos;
        if (all)
            found.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return found;
}

// The same once there are some, looked for every 20 ms for 4 s at the most.
std::vector<pid_t> AwaitProcessesWith(const std::vector<std::string>& parts) {
    std::vector<pid_t> found;
    for (int i = 0; i < 200 && found.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        found = ProcessesWith(parts);
    }
    return found;
}

// Six databases: a1..a4 at version 1.0 (a3 without the table the script
// fills), b1 and b2 at 2.0; the aliases in a settings file beside them.
class FleetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CopyBuiltEngine(dir_.path());
        fs::create_directory(dir_ / "scripts");
        std::string ini = "[Databases]\n";
        for (const std::string name : {"a1", "a2", "a3", "a4", "b1", "b2"}) {
            const std::string path = dir_ / (name + ".fdb");
            const std::string version = name[0] == 'a' ? "1.0" : "2.0";
            ProcessOptions o;
            o.input = "create database '" + path + "' user SYSDBA default character set WIN1251;\n" +
                      "create table db_version (Version varchar(20));\n" +
                      (name == "a3" ? "" : "create table t (id integer);\n") + "commit;\n" +
                      "insert into db_version values ('" + version + "');\ncommit;\nexit;\n";
            ProcessResult r = RunProcess({TALLO_ISQL, "-q"}, o);
            ASSERT_EQ(r.code, 0) << r.out << r.err;
            ini += name + "=" + path + "\n";
        }
        WriteBytes(dir_ / "fleet.ini", ini);
        WriteBytes(dir_ / "scripts/upd.sql",
                   "insert into t values (1);\nupdate db_version set Version = '1.1';\ncommit;\n");
        // Each statement takes a good while: time to kill or interrupt a run.
        std::string slow = "insert into db_version values ('x');\n";
        for (int i = 0; i < 4; ++i)
            slow += "select count(*) from rdb$fields a, rdb$fields b, rdb$relation_fields c;\n";
        WriteBytes(dir_ / "scripts/slow.sql", slow + "commit;\n");
        // One statement of 20 s, after a row that is never committed.
        WriteBytes(dir_ / "scripts/stop.sql",
                   "insert into db_version values ('x');\n" + kLongStatement + "commit;\n");
    }

    ProcessResult Run(std::vector<std::string> args, ProcessOptions o = {}) {
        o.cwd = dir_.path();
        o.env["LC_ALL"] = "C.UTF-8";
        o.env["TALLO_PASSWORD"] = kPassword;
        args.insert(args.begin(), {TALLO_RUN_PROGRAM, "run", "--settings", dir_ / "fleet.ini"});
        return RunProcess(args, o);
    }

    // python3 answers a JSON report's outcomes and versions as lines.
    std::string JsonRows(const std::string& report) {
        ProcessResult r =
            RunProcess({"/usr/bin/python3", "-c",
                        "import json,sys\nr=json.load(open(sys.argv[1]))\nassert r['schema_version']==1\n"
                        "for d in r['databases']:\n"
                        "  f=d['failures']\n"
                        "  print(d['database'],d['outcome'],d['version_before'],d['version_after'],\n"
                        "        f[0]['line'] if f else '-',bool(f and f[0]['sqlstate']),\n"
                        "        (d['protocol'] or '-').rsplit('/',1)[-1])",
                        report});
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out;
    }

    TempDir dir_;
};

TEST_F(FleetTest, OutcomesReportsAndProtocolsOfSixDatabases) {
    ProcessResult r = Run({"--all", "--jobs", "3", "--expect-version", "1.0", "--report", dir_ / "r.json",
                           "--junit", dir_ / "r.xml", dir_ / "scripts/upd.sql"});
    EXPECT_EQ(r.code, 1) << r.out << r.err;  // a3 failed
    // database, outcome, version before and after, first failure's line,
    // whether it has a SQLSTATE, the protocol
    EXPECT_EQ(JsonRows(dir_ / "r.json"),
              "a1 clean 1.0 1.1 - False Result.a1.txt\n"
              "a2 clean 1.0 1.1 - False Result.a2.txt\n"
              "a3 failed 1.0 None 1 True Result.a3.txt\n"
              "a4 clean 1.0 1.1 - False Result.a4.txt\n"
              "b1 skipped 2.0 None - False -\n"
              "b2 skipped 2.0 None - False -\n");
    const struct {
        const char* alias;
        bool protocol;
    } kProtocols[] = {{"a1", true}, {"a3", true}, {"b1", false}};
    for (const auto& p : kProtocols)
        EXPECT_EQ(fs::exists(dir_ / ("scripts/Result." + std::string(p.alias) + ".txt")), p.protocol)
            << p.alias;
    for (const char* left : {"Result.txt", "Result.unfinished.txt", "Result.a1.unfinished.txt"})
        EXPECT_FALSE(fs::exists(dir_ / (std::string("scripts/") + left))) << left;
    EXPECT_NE(r.out.find("a3        failed"), std::string::npos) << r.out;

    // JUnit's shape: one suite, one testcase per database, the failure and
    // the skips where they belong.
    ProcessResult x = RunProcess(
        {"/usr/bin/python3", "-c",
         "import sys,xml.etree.ElementTree as E\nt=E.parse(sys.argv[1]).getroot()\nassert "
         "t.tag=='testsuites'\n"
         "s=t.findall('testsuite')\nassert len(s)==1 and s[0].get('tests')=='6' and "
         "s[0].get('failures')=='1'\n"
         "for c in s[0].findall('testcase'):\n"
         "  k=[e.tag for e in c]\n  print(c.get('name'),k, 'SQLSTATE' in (c.findtext('failure') or ''))",
         dir_ / "r.xml"});
    EXPECT_EQ(x.code, 0) << x.err;
    EXPECT_EQ(x.out,
              "a1 [] False\na2 [] False\na3 ['failure'] True\na4 [] False\nb1 ['skipped'] False\n"
              "b2 ['skipped'] False\n");
    if (::access("/usr/bin/xmllint", X_OK) == 0) {
        EXPECT_EQ(RunProcess({"/usr/bin/xmllint", "--noout", dir_ / "r.xml"}).code, 0);
    }
    for (const std::string& file : {dir_ / "r.json", dir_ / "r.xml"})
        EXPECT_EQ(ReadAll(file).find(kPassword), std::string::npos) << file;
    EXPECT_EQ((r.out + r.err).find(kPassword), std::string::npos);
}

TEST_F(FleetTest, ExitCodesAndRefusals) {
    const struct {
        std::vector<std::string> args;
        int code;
        const char* said;  // on stderr
    } kCases[] = {
        {{"-d", "b1", "-d", "b2", "--expect-version", "1.0", dir_ / "scripts/upd.sql"}, 3, ""},
        {{"-d", "a1", "-d", "a2", dir_ / "scripts/upd.sql"}, 0, ""},
        {{"-d", "a1", "-d", dir_ / "a1.fdb", dir_ / "scripts/upd.sql"}, 2, "same protocol Result.a1.txt"},
        {{"-d", "a1", "--jobs", "0", dir_ / "scripts/upd.sql"}, 2, "--jobs takes a number"},
        {{"-d", "a1", "--fleet-result", "x", dir_ / "scripts/upd.sql"}, 2, "the runner's own"},
    };
    for (const auto& c : kCases) {
        ProcessResult r = Run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args[3] << r.out << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    }
}

// A child killed midway is reported as crashed; the others finish, and a
// second set of runs in the same folder meanwhile is refused.
TEST_F(FleetTest, KilledChildLeavesTheOthersFinishing) {
    ProcessResult r;
    std::thread fleet([&] {
        r = Run(
            {"-d", "a1", "-d", "a2", "--jobs", "2", "--report", dir_ / "k.json", dir_ / "scripts/slow.sql"});
    });
    const std::vector<pid_t> victim = AwaitProcessesWith({"--fleet-tag a2 ", dir_ / "scripts/slow.sql"});
    ASSERT_EQ(victim.size(), 1u);
    ProcessResult second = Run({"-d", "b1", "-d", "b2", dir_ / "scripts/slow.sql"});
    ::kill(victim[0], SIGKILL);
    fleet.join();
    EXPECT_EQ(second.code, 2) << second.out << second.err;
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    const std::string rows = JsonRows(dir_ / "k.json");
    EXPECT_NE(rows.find("a1 clean"), std::string::npos) << rows;
    EXPECT_NE(rows.find("a2 crashed"), std::string::npos) << rows;
}

// The rows of a database's db_version that the stopped runs inserted.
std::string UncommittedRows(const std::string& database) {
    ProcessOptions o;
    o.input = "set heading off;\nselect 'x rows: ' || count(*) from db_version where Version = 'x';\n";
    const std::string out = RunProcess({TALLO_ISQL, "-q", database}, o).out;
    const std::size_t at = out.find("x rows");
    return at == std::string::npos ? out : out.substr(at, 9);
}

// SIGINT or SIGTERM: no database starts after it, the running one stops
// inside its statement with its work rolled back and its protocol saved, and
// the summary and the reports are written.
TEST_F(FleetTest, StopSignalStopsTheRunningStatementAndStillReports) {
    const struct {
        int signal;
        int code;
        const char* told;
    } kCases[] = {{SIGINT, 130, "Stopped by SIGINT"}, {SIGTERM, 143, "Stopped by SIGTERM"}};
    for (const auto& c : kCases) {
        ProcessOptions o;
        o.meanwhile = [&](pid_t runner) {
            ASSERT_TRUE(AwaitText(dir_ / "scripts/Result.a1.unfinished.txt", "execute block"));
            ::kill(runner, c.signal);
        };
        ProcessResult r = Run(
            {"-d", "a1", "-d", "a2", "--jobs", "1", "--report", dir_ / "i.json", dir_ / "scripts/stop.sql"},
            o);
        EXPECT_EQ(r.code, c.code) << r.out << r.err;
        EXPECT_NE(r.out.find(c.told), std::string::npos) << r.out;
        // The stop is a failure at the long statement's line, without SQLSTATE.
        EXPECT_EQ(JsonRows(dir_ / "i.json"),
                  "a1 interrupted 1.0 None 2 False Result.a1.txt\na2 not-run None None - False -\n");
        EXPECT_NE(ReadAll(dir_ / "i.json").find("\"exit_code\": " + std::to_string(c.code)),
                  std::string::npos);
        const std::string protocol = ReadAll(dir_ / "scripts/Result.a1.txt");
        EXPECT_NE(protocol.rfind("Error: The operator stopped the script at statement "), std::string::npos)
            << protocol;
        EXPECT_FALSE(fs::exists(dir_ / "scripts/Result.a1.unfinished.txt"));
        EXPECT_EQ(UncommittedRows(dir_ / "a1.fdb"), "x rows: 0");
    }
}

// No hang: 50 stop signals at random moments of sets of runs, one and two at
// a time, each end it within 10 s (its runs and their engines' workers
// included: they hold its stderr), as a stop or, before the runner has taken
// the signal, by the signal itself; no run is reported crashed or failed, and
// nothing they inserted stays.
TEST_F(FleetTest, StopAtAnyMomentEndsTheRunsPromptly) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delay_ms(0, 1500);
    constexpr int kSignals = 50;
    for (const std::string jobs : {"1", "2"}) {
        int stops = 0;
        for (int i = 0; i < kSignals; ++i) {
            const int delay = delay_ms(random);
            const std::string what = "--jobs " + jobs + ", signal after " + std::to_string(delay) + " ms";
            fs::remove(dir_ / "n.json");
            auto sent = std::chrono::steady_clock::now();
            ProcessOptions o;
            o.meanwhile = [&](pid_t runner) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                sent = std::chrono::steady_clock::now();
                ::kill(runner, SIGINT);
            };
            ProcessResult r = Run({"-d", "a1", "-d", "a2", "-d", "a4", "--jobs", jobs, "--report",
                                   dir_ / "n.json", dir_ / "scripts/stop.sql"},
                                  o);
            EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(10)) << what;
            if (r.code != 130) {
                EXPECT_EQ(r.signal, SIGINT) << what << ": exit " << r.code << r.out << r.err;
                continue;
            }
            ++stops;
            const std::string report = ReadAll(dir_ / "n.json");
            for (const char* outcome : {"crashed", "failed", "clean"})
                EXPECT_EQ(report.find(std::string("\"outcome\": \"") + outcome), std::string::npos)
                    << what << report;
        }
        // Only a signal in the runner's first milliseconds comes before its handler.
        EXPECT_GE(stops, kSignals * 3 / 4) << "--jobs " << jobs;
    }
    for (const char* name : {"a1", "a2", "a4"})
        EXPECT_EQ(UncommittedRows(dir_ / (std::string(name) + ".fdb")), "x rows: 0") << name;
}

}  // namespace
}  // namespace tallo::testing
