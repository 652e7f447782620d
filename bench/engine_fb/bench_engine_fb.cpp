// Times generated scripts into fresh databases in one run: N single-row
// INSERTs with Windows-1251 text, N UPDATEs by key of a table filled first,
// and N mixed statements that never repeat their shape. Each runs through
// our engine's exported entry (with and without the reuse of prepared
// statements, with statement blocks off), a bare loop of
// IAttachment::execute over the same statements, and a loop executing one
// prepared statement with the values as parameters; the INSERTs also through
// isql-fb -i. Prints the times and the engine's ratios; with --server also
// over a loopback server on that port (scripts/bench.sh starts a private
// one), with --memory the peak memory of engine runs of 200,000 INSERTs with
// and without reuse. With --no-forced-writes the databases are made with
// forced writes off, so the figures show the processors' work without the
// wait for the disk. With --server and --round-trip-ms, only the INSERTs and
// UPDATEs, over a link of that round trip to the server (bench/link_proxy,
// started here) instead of embedded and loopback.
//   bench_engine_fb [--statements N] [--server PORT [--round-trip-ms MS]] [--memory]
//                   [--no-forced-writes]
#include <dlfcn.h>
#include <fcntl.h>
#include <firebird/Interface.h>
#include <ibase.h>
#include <signal.h>
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
#include <sstream>
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

enum class Kind { Insert, Update, Mixed };

struct Row {
    int id;
    std::string name;
    std::int64_t cents;
};

struct Workload {
    Kind kind = Kind::Insert;
    std::string create_table;
    std::string fill;  // fills the table before the timed statements (UPDATE)
    std::vector<Row> rows;
    std::vector<std::string> statements;
};

std::string Cents(std::int64_t cents) {
    return std::to_string(cents / 100) + "." + std::to_string(cents % 100 / 10) + std::to_string(cents % 10);
}

Workload Generate(int count, Kind kind) {
    // "Запись номер" / "Иванов Пётр Сергеевич" in Windows-1251.
    const std::string words[] = {
        "\xC7\xE0\xEF\xE8\xF1\xFC \xED\xEE\xEC\xE5\xF0",
        "\xC8\xE2\xE0\xED\xEE\xE2 \xCF\xB8\xF2\xF0 \xD1\xE5\xF0\xE3\xE5\xE5\xE2\xE8\xF7"};
    Workload w;
    w.kind = kind;
    w.create_table =
        "CREATE TABLE bench (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(100) CHARACTER SET WIN1251, "
        "amount NUMERIC(12,2))";
    if (kind == Kind::Update) {
        w.fill = "EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN WHILE (i < " + std::to_string(count) +
                 ") DO BEGIN INSERT INTO bench (id, name, amount) VALUES (:i, 'x', 0); i = i + 1; END END";
    }
    w.rows.reserve(static_cast<std::size_t>(count));
    w.statements.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        Row r{i, words[i % 2] + " " + std::to_string(i), (i % 1000) * 100 + 25};
        const std::string id = std::to_string(r.id), amount = Cents(r.cents);
        switch (kind) {
            case Kind::Insert:
                w.statements.push_back("INSERT INTO bench (id, name, amount) VALUES (" + id + ", '" + r.name +
                                       "', " + amount + ")");
                break;
            case Kind::Update:
                w.statements.push_back("UPDATE bench SET name = '" + r.name + "', amount = " + amount +
                                       " WHERE id = " + id);
                break;
            case Kind::Mixed:
                // Expressions: no two statements share a shape.
                if (i % 2 == 0) {
                    w.statements.push_back("INSERT INTO bench (id, name, amount) VALUES (" + id + ", '" +
                                           words[0] + "' || '" + id + "', " + amount + " * 2)");
                } else {
                    w.statements.push_back("UPDATE bench SET amount = amount + " + amount +
                                           " WHERE id = " + std::to_string(i - 1));
                }
                break;
        }
        w.rows.push_back(std::move(r));
    }
    return w;
}

const char* Title(Kind kind) {
    switch (kind) {
        case Kind::Insert:
            return "INSERTs";
        case Kind::Update:
            return "UPDATEs by key";
        case Kind::Mixed:
            return "mixed statements, no shape repeated";
    }
    return "";
}

// The timed script: the database and its table exist already.
std::string ScriptText(const Workload& w, const std::string& database) {
    std::string s = "SET NAMES WIN1251;\nCONNECT '" + database + "' USER 'SYSDBA' PASSWORD 'masterkey';\n";
    for (const auto& statement : w.statements)
        s.append(statement).append(";\n");
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

// The /proc folders of this process's children still running (the engine's
// worker, which stays from one call to the next).
std::vector<std::filesystem::path> RunningChildren() {
    std::vector<std::filesystem::path> children;
    const std::string me = std::to_string(::getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
            continue;
        std::istringstream fields(line.substr(line.rfind(')') + 2));  // state ppid ...
        std::string state, ppid;
        fields >> state >> ppid;
        if (ppid == me)
            children.push_back(entry.path());
    }
    return children;
}

double RunningChildrenCpuSeconds() {
    double total = 0;
    for (const auto& child : RunningChildren()) {
        std::ifstream stat(child / "stat");
        std::string line, skip;
        std::getline(stat, line);
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        for (int i = 0; i < 11; ++i)  // state to cmajflt; utime and stime follow
            fields >> skip;
        unsigned long long utime = 0, stime = 0;
        fields >> utime >> stime;
        total += static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    return total;
}

// The largest peak resident size of the running children, in kB.
long RunningChildrenPeakKb() {
    long peak = 0;
    for (const auto& child : RunningChildren()) {
        std::ifstream status(child / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmHWM:", 0) == 0)
                peak = std::max(peak, std::atol(line.c_str() + 6));
        }
    }
    return peak;
}

// Processor time of this process and of its children, running or waited for
// (all their threads, the embedded database's and the engine's worker's
// too): steadier than the clock on a machine shared with other work.
double CpuSeconds() {
    double total = RunningChildrenCpuSeconds();
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage u {};
        ::getrusage(who, &u);
        total += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                 static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

bool g_forced_writes = true;

// A run's time on the clock and its processor time.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

template <class Run>
Timing Measure(Run&& run) {
    const double cpu = CpuSeconds();
    const auto start = Clock::now();
    run();
    return {Seconds(start), CpuSeconds() - cpu};
}

// The engine's ways of running: with the reuse of prepared statements or
// without, in its worker or inside this process, with statement blocks or
// without.
struct EngineWay {
    bool reuse = true;
    bool in_process = false;
    bool blocks = true;
};

Timing RunEngine(TalloExecScriptTextFn entry, const std::string& text, EngineWay way = {}) {
    ::setenv("TALLO_ENGINE_STATEMENT_REUSE", way.reuse ? "1" : "0", 1);
    ::setenv("TALLO_ENGINE_WORKER", way.in_process ? "0" : "1", 1);
    ::setenv("TALLO_ENGINE_STATEMENT_BLOCKS", way.blocks ? "1" : "0", 1);
    g_callbacks = g_errors = 0;
    const Timing t = Measure([&] { entry(text.c_str(), CountError, Count, Count); });
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

// An attachment with a transaction for the timed statements; with a
// workload, a fresh database with its table (filled for the UPDATEs).
struct Attached {
    Attached(const Workload* w, const std::string& database)
        : master(Firebird::fb_get_master_interface()), raw(master->getStatus()), st(raw) {
        using namespace Firebird;
        provider = master->getDispatcher();
        IXpbBuilder* dpb = master->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
        dpb->insertString(&st, isc_dpb_password, "masterkey");
        dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1251");
        dpb->insertInt(&st, isc_dpb_sql_dialect, 3);
        if (!w) {
            att = provider->attachDatabase(&st, database.c_str(), dpb->getBufferLength(&st),
                                           dpb->getBuffer(&st));
            dpb->dispose();
            tra = att->startTransaction(&st, 0, nullptr);
            return;
        }
        if (!g_forced_writes)
            dpb->insertInt(&st, isc_dpb_force_write, 0);
        att = provider->createDatabase(&st, database.c_str(), dpb->getBufferLength(&st), dpb->getBuffer(&st));
        dpb->dispose();
        for (const std::string* sql : {&w->create_table, &w->fill}) {
            if (sql->empty())
                continue;
            tra = att->startTransaction(&st, 0, nullptr);
            att->execute(&st, tra, 0, sql->c_str(), 3, nullptr, nullptr, nullptr, nullptr);
            tra->commit(&st);
        }
        tra = att->startTransaction(&st, 0, nullptr);
    }
    ~Attached() {
        tra->commit(&st);
        att->detach(&st);
        provider->release();
        raw->dispose();
    }
    Firebird::IMaster* master;
    Firebird::IStatus* raw;
    Firebird::ThrowStatusWrapper st;
    Firebird::IProvider* provider = nullptr;
    Firebird::IAttachment* att = nullptr;
    Firebird::ITransaction* tra = nullptr;
};

// Makes the workload's database before a timed run.
std::string MakeDatabase(const Workload& w, const std::string& database) {
    Attached made(&w, database);
    return database;
}

// The baseline: the same statements, one IAttachment::execute each, with
// the attach, the commit and the detach timed as the engine's are.
Timing RunBareLoop(const Workload& w, const std::string& database) {
    return Measure([&] {
        Attached a(nullptr, database);
        for (const auto& sql : w.statements) {
            a.att->execute(&a.st, a.tra, static_cast<unsigned>(sql.size()), sql.data(), 3, nullptr, nullptr,
                           nullptr, nullptr);
        }
    });
}

// The floor: one prepared statement, executed with each row's values.
Timing RunPreparedLoop(const Workload& w, const std::string& database) {
    using namespace Firebird;
    return Measure([&] {
        Attached a(nullptr, database);
        const bool update = w.kind == Kind::Update;
        const char* sql = update ? "UPDATE bench SET name = ?, amount = ? WHERE id = ?"
                                 : "INSERT INTO bench (id, name, amount) VALUES (?, ?, ?)";
        IStatement* stmt = a.att->prepare(&a.st, a.tra, 0, sql, 3, 0);
        IMetadataBuilder* builder = a.master->getMetadataBuilder(&a.st, 3);
        const unsigned id = update ? 2 : 0, name = update ? 0 : 1, amount = update ? 1 : 2;
        builder->setType(&a.st, id, SQL_LONG);
        builder->setLength(&a.st, id, 4);
        builder->setType(&a.st, name, SQL_VARYING);
        builder->setLength(&a.st, name, 100);
        builder->setCharSet(&a.st, name, 52);
        builder->setType(&a.st, amount, SQL_INT64);
        builder->setLength(&a.st, amount, 8);
        builder->setScale(&a.st, amount, -2);
        IMessageMetadata* meta = builder->getMetadata(&a.st);
        builder->release();
        std::vector<unsigned char> buffer(meta->getMessageLength(&a.st));
        const unsigned id_at = meta->getOffset(&a.st, id), name_at = meta->getOffset(&a.st, name),
                       amount_at = meta->getOffset(&a.st, amount);
        for (unsigned i = 0; i < 3; ++i) {
            const short not_null = 0;
            std::memcpy(buffer.data() + meta->getNullOffset(&a.st, i), &not_null, sizeof not_null);
        }
        for (const Row& r : w.rows) {
            std::memcpy(buffer.data() + id_at, &r.id, sizeof r.id);
            const auto length = static_cast<unsigned short>(r.name.size());
            std::memcpy(buffer.data() + name_at, &length, sizeof length);
            std::memcpy(buffer.data() + name_at + 2, r.name.data(), r.name.size());
            std::memcpy(buffer.data() + amount_at, &r.cents, sizeof r.cents);
            stmt->execute(&a.st, a.tra, meta, buffer.data(), nullptr, nullptr);
        }
        meta->release();
        stmt->free(&a.st);
    });
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

// over_link: a link with a round trip of its own, where every engine run
// without blocks costs a round trip a statement: only the engine with and
// without blocks, and 3 rounds.
void Compare(const char* where, const Workload& w, const std::string& prefix, TalloExecScriptTextFn entry,
             bool over_link = false) {
    const int rounds = w.statements.size() >= 100000 || over_link ? 3 : 5;
    const bool with_isql = (w.kind == Kind::Insert || over_link) && w.statements.size() < 100000;
    const bool with_prepared = w.kind != Kind::Mixed;
    std::vector<Timing> engine, plain, inproc, unblocked, bare, prepared;
    std::vector<double> isql;
    struct Way {
        EngineWay way;
        std::vector<Timing>* into;
        const char* file;
    };
    std::vector<Way> ways = {{{}, &engine, "engine.fdb"}, {{.blocks = false}, &unblocked, "unblocked.fdb"}};
    if (!over_link) {
        ways.push_back({{.reuse = false}, &plain, "plain.fdb"});
        ways.push_back({{.in_process = true}, &inproc, "inproc.fdb"});
    }
    for (int round = 0; round < rounds; ++round) {
        Folder dir;
        std::string name = prefix + dir.path + "/";
        // The engine's ways each first in turn: the run that comes first may
        // meet the disk still writing the last round.
        for (std::size_t i = 0; i < ways.size(); ++i) {
            const Way& way = ways[(static_cast<std::size_t>(round) + i) % ways.size()];
            way.into->push_back(RunEngine(entry, ScriptText(w, MakeDatabase(w, name + way.file)), way.way));
        }
        if (with_isql) {
            std::string file = dir.path + "/script.sql";
            std::ofstream(file, std::ios::binary) << ScriptText(w, MakeDatabase(w, name + "isql.fdb"));
            isql.push_back(RunIsql(file));
        }
        bare.push_back(RunBareLoop(w, MakeDatabase(w, name + "bare.fdb")));
        if (with_prepared)
            prepared.push_back(RunPreparedLoop(w, MakeDatabase(w, name + "prepared.fdb")));
    }
    auto best = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    // The best clock time and, apart, the best processor time of the rounds.
    auto best_of = [](const std::vector<Timing>& v, double Timing::*field) {
        double m = v.front().*field;
        for (const Timing& r : v)
            m = std::min(m, r.*field);
        return m;
    };
    auto wall = [&](const std::vector<Timing>& v) { return best_of(v, &Timing::wall); };
    auto cpu = [&](const std::vector<Timing>& v) { return best_of(v, &Timing::cpu); };
    const double e = wall(engine), b = wall(bare);
    std::printf("%s, %zu %s (best of %d%s):\n", where, w.statements.size(), Title(w.kind), rounds,
                g_forced_writes ? "" : ", forced writes off");
    std::printf("  engine (exported entry)   %7.3f s   %ld callbacks in the last run\n", e, g_callbacks);
    std::printf("  engine, blocks off        %7.3f s\n", wall(unblocked));
    if (!over_link) {
        std::printf("  engine, no reuse          %7.3f s\n", wall(plain));
        std::printf("  engine in this process    %7.3f s\n", wall(inproc));
    }
    std::printf("  bare execute loop         %7.3f s\n", b);
    if (with_prepared)
        std::printf("  prepared loop             %7.3f s\n", wall(prepared));
    if (with_isql)
        std::printf("  isql-fb -i                %7.3f s\n", best(isql));
    // Over a link the blocks save round trips; elsewhere they must cost
    // nothing where they do not pay.
    std::printf("  engine / blocks off       %7.2fx%s\n", e / wall(unblocked),
                over_link ? "" : "   (goal <= 1.03x)");
    std::printf("  same, processor time      %7.2fx   (%.3f s / %.3f s)\n", cpu(engine) / cpu(unblocked),
                cpu(engine), cpu(unblocked));
    if (over_link) {
        const double ratio = e / wall(prepared);
        std::printf("  engine / prepared loop    %7.2fx   (goal <= 0.10x: %s)\n", ratio,
                    ratio <= 0.10 ? "met" : "MISSED");
        if (with_isql)
            std::printf("  engine / isql-fb          %7.2fx\n", e / best(isql));
        std::printf("  engine / bare loop        %7.2fx\n", e / b);
        return;
    }
    const double p = wall(plain);
    const char* goal = w.kind == Kind::Insert   ? "(goal <= 0.40x)"
                       : w.kind == Kind::Update ? "(goal <= 0.50x)"
                                                : "";
    std::printf("  engine / bare loop        %7.2fx   %s\n", e / b, goal);
    std::printf("  worker / in this process  %7.2fx   (goal <= 1.05x; processor time %.2fx)\n",
                e / wall(inproc), cpu(engine) / cpu(inproc));
    std::printf("  engine, no reuse / bare   %7.2fx\n", p / b);
    std::printf("  engine / engine, no reuse %7.2fx   %s\n", e / p,
                w.kind == Kind::Mixed ? "(goal <= 1.03x)" : "");
    std::printf("  same, processor time      %7.2fx   (%.3f s / %.3f s)\n", cpu(engine) / cpu(plain),
                cpu(engine), cpu(plain));
    std::printf("  engine / bare, processor  %7.2fx   (bare loop %.3f s)\n", cpu(engine) / cpu(bare),
                cpu(bare));
    if (with_prepared) {
        std::printf("  engine / prepared loop    %7.2fx\n", e / wall(prepared));
        std::printf("  prepared loop / bare loop %7.2fx   (the floor for the engine / bare loop figure)\n",
                    wall(prepared) / b);
        std::printf("  same, processor time      %7.2fx   (prepared loop %.3f s)\n",
                    cpu(prepared) / cpu(bare), cpu(prepared));
    }
    if (with_isql)
        std::printf("  engine / isql-fb          %7.2fx\n", e / best(isql));
}

// Peak memory of engine runs of one script, with and without reuse, each in
// a fresh process forked from the same state.
void PeakMemory(int count) {
    Folder dir;
    const std::string database = dir.path + "/memory.fdb";
    std::string text;
    Workload table;
    {
        Workload w = Generate(count, Kind::Insert);
        text = ScriptText(w, database);
        table.create_table = w.create_table;
    }
    for (const auto& [reuse, in_process] : {std::pair{false, false}, {true, false}, {true, true}}) {
        std::fflush(nullptr);
        pid_t pid = ::fork();
        if (pid == 0) {
            MakeDatabase(table, database);
            auto entry = LoadEngine();
            struct rusage before {};
            ::getrusage(RUSAGE_SELF, &before);
            const double t = RunEngine(entry, text, {.reuse = reuse, .in_process = in_process}).wall;
            struct rusage after {};
            ::getrusage(RUSAGE_SELF, &after);
            const long worker_kb = RunningChildrenPeakKb();
            std::printf(
                "Peak memory, %d INSERTs embedded%s: caller %.1f MB peak RSS, worker %.1f MB (script %.1f "
                "MB, %.1f MB before the run), %.2f s\n",
                count,
                in_process ? " in the caller's process"
                : reuse    ? ""
                           : " (no reuse)",
                after.ru_maxrss / 1024.0, worker_kb / 1024.0, text.size() / 1048576.0,
                before.ru_maxrss / 1024.0, t);
            std::fflush(nullptr);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        std::filesystem::remove(database);
    }
}

// bench/link_proxy in front of the server's port, until destroyed.
class LinkProxy {
  public:
    LinkProxy(const std::string& to_port, const std::string& round_trip_ms) {
        int out[2];
        if (::pipe(out) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args = {TALLO_LINK_PROXY, "--to", to_port, "--round-trip-ms", round_trip_ms};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int spawned = posix_spawn(&pid_, TALLO_LINK_PROXY, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        char line[32] = {};
        const ssize_t got = spawned == 0 ? ::read(out[0], line, sizeof line - 1) : 0;
        ::close(out[0]);
        port_ = std::atoi(line);
        if (got <= 0 || port_ <= 0) {
            if (spawned == 0)
                Stop();
            throw std::runtime_error("link_proxy did not start");
        }
    }
    ~LinkProxy() { Stop(); }
    int port() const { return port_; }

  private:
    void Stop() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }

    pid_t pid_ = 0;
    int port_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    int count = 20000;
    std::string server_port, round_trip_ms;
    bool memory = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--statements") && i + 1 < argc) {
            count = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--server") && i + 1 < argc) {
            server_port = argv[++i];
        } else if (!std::strcmp(argv[i], "--round-trip-ms") && i + 1 < argc) {
            round_trip_ms = argv[++i];
        } else if (!std::strcmp(argv[i], "--memory")) {
            memory = true;
        } else if (!std::strcmp(argv[i], "--no-forced-writes")) {
            g_forced_writes = false;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--statements N] [--server PORT [--round-trip-ms MS]] [--memory] "
                         "[--no-forced-writes]\n",
                         argv[0]);
            return 2;
        }
    }
    if (!round_trip_ms.empty() && server_port.empty()) {
        std::fprintf(stderr, "%s: --round-trip-ms needs --server\n", argv[0]);
        return 2;
    }
    try {
        if (memory)
            PeakMemory(200000);
        auto entry = LoadEngine();
        if (!round_trip_ms.empty()) {
            LinkProxy link(server_port, round_trip_ms);
            const std::string where = "Server through a link of " + round_trip_ms + " ms round trip";
            for (Kind kind : {Kind::Insert, Kind::Update}) {
                Compare(where.c_str(), Generate(count, kind),
                        "127.0.0.1/" + std::to_string(link.port()) + ":", entry, true);
            }
            return 0;
        }
        for (Kind kind : {Kind::Insert, Kind::Update, Kind::Mixed}) {
            Workload w = Generate(count, kind);
            Compare("Embedded", w, "", entry);
            if (!server_port.empty())
                Compare("Loopback server (127.0.0.1)", w, "127.0.0.1/" + server_port + ":", entry);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_engine_fb: %s\n", e.what());
        return 1;
    }
    return 0;
}
