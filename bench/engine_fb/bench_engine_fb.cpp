// Times generated scripts into fresh databases in one run: N single-row
// INSERTs with Windows-1251 text, N UPDATEs by key of a table filled first,
// and N mixed statements that never repeat their shape. Each runs through
// our engine's exported entry (with and without the reuse of prepared
// statements), a bare loop of IAttachment::execute over the same statements,
// and a loop executing one prepared statement with the values as parameters;
// the INSERTs also through isql-fb -i. Prints the times and the engine's
// ratios; with --server also over a loopback server on that port
// (scripts/bench.sh starts a private one), with --memory the peak memory of
// engine runs of 200,000 INSERTs with and without reuse. With
// --no-forced-writes the databases are made with forced writes off, so the
// figures show the processors' work without the wait for the disk.
//   bench_engine_fb [--statements N] [--server PORT] [--memory] [--no-forced-writes]
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

// Processor time of this process and of the children it has waited for
// (all their threads, the embedded database's too; the engine's worker
// among the children): steadier than the clock on a machine shared with
// other work.
double CpuSeconds() {
    double total = 0;
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

// in_process: the engine's work inside this process instead of its worker.
Timing RunEngine(TalloExecScriptTextFn entry, const std::string& text, bool reuse = true,
                 bool in_process = false) {
    ::setenv("TALLO_ENGINE_STATEMENT_REUSE", reuse ? "1" : "0", 1);
    ::setenv("TALLO_ENGINE_WORKER", in_process ? "0" : "1", 1);
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

void Compare(const char* where, const Workload& w, const std::string& prefix, TalloExecScriptTextFn entry) {
    const int rounds = w.statements.size() >= 100000 ? 3 : 5;
    const bool with_isql = w.kind == Kind::Insert && w.statements.size() < 100000;
    const bool with_prepared = w.kind != Kind::Mixed;
    std::vector<Timing> engine, plain, inproc, bare, prepared;
    std::vector<double> isql;
    for (int round = 0; round < rounds; ++round) {
        Folder dir;
        std::string name = prefix + dir.path + "/";
        // The engine with reuse, without it, and inside this process, each
        // first in turn: the run that comes first may meet the disk still
        // writing the last round.
        for (int i = 0; i < 3; ++i) {
            const int which = (round + i) % 3;
            std::vector<Timing>& into = which == 0 ? engine : which == 1 ? plain : inproc;
            const std::string file = name + (which == 0   ? "engine.fdb"
                                             : which == 1 ? "plain.fdb"
                                                          : "inproc.fdb");
            into.push_back(RunEngine(entry, ScriptText(w, MakeDatabase(w, file)), which != 1, which == 2));
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
    const double e = wall(engine), p = wall(plain), b = wall(bare);
    std::printf("%s, %zu %s (best of %d%s):\n", where, w.statements.size(), Title(w.kind), rounds,
                g_forced_writes ? "" : ", forced writes off");
    std::printf("  engine (exported entry)   %7.3f s   %ld callbacks in the last run\n", e, g_callbacks);
    std::printf("  engine, no reuse          %7.3f s\n", p);
    std::printf("  engine in this process    %7.3f s\n", wall(inproc));
    std::printf("  bare execute loop         %7.3f s\n", b);
    if (with_prepared)
        std::printf("  prepared loop             %7.3f s\n", wall(prepared));
    if (with_isql)
        std::printf("  isql-fb -i                %7.3f s\n", best(isql));
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
            const double t = RunEngine(entry, text, reuse, in_process).wall;
            struct rusage after {
            }, worker{};
            ::getrusage(RUSAGE_SELF, &after);
            ::getrusage(RUSAGE_CHILDREN, &worker);
            std::printf(
                "Peak memory, %d INSERTs embedded%s: caller %.1f MB peak RSS, worker %.1f MB (script %.1f "
                "MB, %.1f MB before the run), %.2f s\n",
                count,
                in_process ? " in the caller's process"
                : reuse    ? ""
                           : " (no reuse)",
                after.ru_maxrss / 1024.0, worker.ru_maxrss / 1024.0, text.size() / 1048576.0,
                before.ru_maxrss / 1024.0, t);
            std::fflush(nullptr);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        std::filesystem::remove(database);
    }
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
        } else if (!std::strcmp(argv[i], "--no-forced-writes")) {
            g_forced_writes = false;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--statements N] [--server PORT] [--memory] [--no-forced-writes]\n",
                         argv[0]);
            return 2;
        }
    }
    try {
        if (memory)
            PeakMemory(200000);
        auto entry = LoadEngine();
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
