// Times a generated script (CREATE TABLE, N single-row INSERTs with
// Windows-1251 text, COMMIT) into a fresh database three ways in one run:
// our engine through its exported entry, isql-fb -i, and a bare loop of
// IAttachment::execute over the same statements. Prints the times and the
// engine's ratios to both; with --server also over a loopback server on that
// port (scripts/bench.sh starts a private one), with --memory the peak memory
// of an engine run of 200,000 statements.
//   bench_engine_fb [--statements N] [--server PORT] [--memory]
#include <dlfcn.h>
#include <fcntl.h>
#include <firebird/Interface.h>
#include <ibase.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ibescript.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

long g_callbacks = 0;
long g_errors = 0;
std::int32_t CountError(const char* first, const char*) {
    ++g_callbacks;
    if (++g_errors <= 3)
        std::fprintf(stderr, "engine error: %s\n", first);
    return 0;
}
std::int32_t Count(const char*, const char*) {
    ++g_callbacks;
    return 0;
}

struct Workload {
    std::string create_table;
    std::vector<std::string> inserts;
};

Workload Generate(int count) {
    // "Запись номер" / "Иванов Пётр Сергеевич" in Windows-1251.
    const std::string words[] = {
        "\xC7\xE0\xEF\xE8\xF1\xFC \xED\xEE\xEC\xE5\xF0",
        "\xC8\xE2\xE0\xED\xEE\xE2 \xCF\xB8\xF2\xF0 \xD1\xE5\xF0\xE3\xE5\xE5\xE2\xE8\xF7"};
    Workload w;
    w.create_table =
        "CREATE TABLE bench (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(100) CHARACTER SET WIN1251, "
        "amount NUMERIC(12,2))";
    w.inserts.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        w.inserts.push_back("INSERT INTO bench (id, name, amount) VALUES (" + std::to_string(i) + ", '" +
                            words[i % 2] + " " + std::to_string(i) + "', " + std::to_string(i % 1000) +
                            ".25)");
    }
    return w;
}

std::string ScriptText(const Workload& w, const std::string& database) {
    std::string s = "SET NAMES WIN1251;\nCREATE DATABASE '" + database +
                    "' USER 'SYSDBA' PASSWORD 'masterkey';\n" + w.create_table + ";\n";
    for (const auto& insert : w.inserts)
        s.append(insert).append(";\n");
    s += "COMMIT;\n";
    return s;
}

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TalloExecScriptTextFn LoadEngine() {
    void* handle = ::dlopen(TALLO_ENGINE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        throw std::runtime_error(::dlerror());
    auto entry = reinterpret_cast<TalloExecScriptTextFn>(::dlsym(handle, TALLO_ENGINE_ENTRY_NAME));
    if (!entry)
        throw std::runtime_error("no ExecScriptText");
    return entry;
}

double RunEngine(TalloExecScriptTextFn entry, const std::string& text) {
    g_callbacks = g_errors = 0;
    auto start = Clock::now();
    entry(text.c_str(), CountError, Count, Count);
    double t = Seconds(start);
    if (g_errors)
        throw std::runtime_error("the engine reported errors");
    return t;
}

double RunIsql(const std::string& file) {
    std::vector<std::string> args = {"isql-fb", "-q", "-b", "-i", file};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "isql-fb", &actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start isql-fb");
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    double t = Seconds(start);
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("isql-fb failed");
    return t;
}

// The baseline: the same statements, one IAttachment::execute each.
double RunBareLoop(const Workload& w, const std::string& database) {
    using namespace Firebird;
    auto start = Clock::now();
    IMaster* master = fb_get_master_interface();
    IStatus* raw = master->getStatus();
    ThrowStatusWrapper st(raw);
    IProvider* provider = master->getDispatcher();
    IXpbBuilder* dpb = master->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&st, isc_dpb_password, "masterkey");
    dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1251");
    dpb->insertInt(&st, isc_dpb_sql_dialect, 3);
    IAttachment* att =
        provider->createDatabase(&st, database.c_str(), dpb->getBufferLength(&st), dpb->getBuffer(&st));
    dpb->dispose();
    ITransaction* tra = att->startTransaction(&st, 0, nullptr);
    att->execute(&st, tra, 0, w.create_table.c_str(), 3, nullptr, nullptr, nullptr, nullptr);
    tra->commit(&st);
    tra = att->startTransaction(&st, 0, nullptr);
    for (const auto& insert : w.inserts) {
        att->execute(&st, tra, static_cast<unsigned>(insert.size()), insert.data(), 3, nullptr, nullptr,
                     nullptr, nullptr);
    }
    tra->commit(&st);
    att->detach(&st);
    provider->release();
    raw->dispose();
    return Seconds(start);
}

struct Folder {
    Folder() {
        char tmpl[] = "/tmp/bench-engine-fb-XXXXXX";
        if (!::mkdtemp(tmpl))
            throw std::runtime_error("mkdtemp");
        path = tmpl;
        std::filesystem::permissions(path, std::filesystem::perms::all);  // the server writes here too
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

void Compare(const char* title, const Workload& w, const std::string& prefix, TalloExecScriptTextFn entry) {
    constexpr int kRounds = 3;
    std::vector<double> engine, isql, bare;
    for (int round = 0; round < kRounds; ++round) {
        Folder dir;
        std::string name = prefix + dir.path + "/";
        engine.push_back(RunEngine(entry, ScriptText(w, name + "engine.fdb")));
        std::string file = dir.path + "/script.sql";
        std::ofstream(file, std::ios::binary) << ScriptText(w, name + "isql.fdb");
        isql.push_back(RunIsql(file));
        bare.push_back(RunBareLoop(w, name + "bare.fdb"));
    }
    auto best = [](std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    double e = best(engine), i = best(isql), b = best(bare);
    std::printf("%s, %zu INSERTs (best of %d):\n", title, w.inserts.size(), kRounds);
    std::printf("  engine (exported entry)   %7.3f s   %ld callbacks in the last run\n", e, g_callbacks);
    std::printf("  isql-fb -i                %7.3f s\n", i);
    std::printf("  bare execute loop         %7.3f s\n", b);
    std::printf("  engine / isql-fb          %7.2fx   (goal <= 0.85x)\n", e / i);
    std::printf("  engine / bare loop        %7.2fx   (goal <= 1.10x)\n", e / b);
}

void PeakMemory(int count) {
    Workload w = Generate(count);
    Folder dir;
    std::string text = ScriptText(w, dir.path + "/memory.fdb");
    w = Workload();
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        // A fresh process, so the figure is this run's alone.
        auto entry = LoadEngine();
        struct rusage before {};
        ::getrusage(RUSAGE_SELF, &before);
        double t = RunEngine(entry, text);
        struct rusage after {};
        ::getrusage(RUSAGE_SELF, &after);
        std::printf(
            "Peak memory, %d INSERTs embedded: %.1f MB peak RSS (script %.1f MB, %.1f MB before the run), "
            "%.2f s\n",
            count, after.ru_maxrss / 1024.0, text.size() / 1048576.0, before.ru_maxrss / 1024.0, t);
        std::fflush(nullptr);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
    int count = 20000;
    std::string server_port;
    bool memory = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--statements") && i + 1 < argc) {
            count = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--server") && i + 1 < argc) {
            server_port = argv[++i];
        } else if (!std::strcmp(argv[i], "--memory")) {
            memory = true;
        } else {
            std::fprintf(stderr, "usage: %s [--statements N] [--server PORT] [--memory]\n", argv[0]);
            return 2;
        }
    }
    try {
        if (memory)
            PeakMemory(200000);
        auto entry = LoadEngine();
        Workload w = Generate(count);
        Compare("Embedded", w, "", entry);
        if (!server_port.empty())
            Compare("Loopback server (127.0.0.1)", w, "127.0.0.1/" + server_port + ":", entry);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_engine_fb: %s\n", e.what());
        return 1;
    }
    return 0;
}
