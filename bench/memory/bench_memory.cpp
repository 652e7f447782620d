// Peak memory of script runs against the size of the script. For each size
// (in MB; default 8, 40 and 218) a script of single-row INSERTs (Windows-1251
// text) runs into a fresh embedded database through tallo-run, plain and
// packed as .zql, through the main window (offscreen), and through isql-fb (sizes up to --isql-limit MB;
// isql-fb takes about three times as long). The peak is the sum of the high-water marks of every process of
// the run (tallo-run and the engine's worker; isql- fb), sampled every 10 ms from /proc. Prints each peak as
// a multiple of the file and the time of each run against isql-fb's on the same script.
//   bench_memory [--sizes 8,40,218] [--isql-limit 40]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../bench_database.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Peak {
    double seconds = 0;
    long peak_kb = 0;
    std::string parts;  // each process's peak in MB, in the order they started
    int code = -1;
};

long HighWaterKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return 0;
}

// The process's children and theirs.
void Tree(pid_t pid, std::vector<pid_t>& out) {
    out.push_back(pid);
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    pid_t child = 0;
    while (children >> child)
        Tree(child, out);
}

Peak Measure(const std::vector<std::string>& args, const std::string& input, const std::string& folder) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Peak peak;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(2);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::map<pid_t, long> marks;
    int status = 0;
    for (;;) {
        std::vector<pid_t> tree;
        Tree(pid, tree);
        for (pid_t p : tree) {
            const long kb = HighWaterKb(p);
            if (kb > marks[p])
                marks[p] = kb;
        }
        if (waitpid(pid, &status, WNOHANG) == pid)
            break;
        usleep(10000);
    }
    peak.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const auto& [p, kb] : marks) {
        peak.peak_kb += kb;
        peak.parts += (peak.parts.empty() ? "" : " + ") + std::to_string((kb + 512) / 1024);
    }
    peak.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return peak;
}

void MakeDatabase(const fs::path& db, const fs::path& folder) {
    bench::MakeBenchDatabase(db, folder, [&](const std::string& sql) {
        return Measure({TALLO_ISQL, "-q"}, sql, folder.string()).code;
    });
}

// A script of single-row INSERTs of about `mb` megabytes.
void WriteScript(const fs::path& path, long mb, const std::string& head, const std::string& tail) {
    std::ofstream script(path, std::ios::binary);
    script << head;
    const char* words[] = {"\xCF\xF0\xE8\xE2\xE5\xF2", "\xEC\xE8\xF0"};  // Windows-1251 words
    const long bytes = mb * 1000 * 1000;
    long written = 0;
    char line[160];
    for (long i = 0; written < bytes; ++i) {
        const int n = std::snprintf(line, sizeof line,
                                    "INSERT INTO bench (id, name, amount) VALUES (%ld, '%s %ld', %ld.25);\n",
                                    i, words[i % 2], i, i % 1000);
        script.write(line, n);
        written += n;
    }
    script << "COMMIT;\n" << tail;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<long> sizes{8, 40, 218};
    long isql_limit = 40;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--sizes") == 0) {
            sizes.clear();
            std::stringstream list(argv[i + 1]);
            for (std::string item; std::getline(list, item, ',');)
                sizes.push_back(std::atol(item.c_str()));
        } else if (std::strcmp(argv[i], "--isql-limit") == 0) {
            isql_limit = std::atol(argv[i + 1]);
        }
    }
    char folder_name[] = "/tmp/tallo-bench-memory-XXXXXX";
    if (mkdtemp(folder_name) == nullptr)
        return 2;
    const fs::path folder = folder_name;
    const fs::path db = folder / "bench.fdb";
    setenv("TALLO_PASSWORD", "masterkey", 1);
    // Firebird's lock files of its own, beside the databases.
    fs::create_directory(folder / "lock");
    setenv("FIREBIRD_LOCK", (folder / "lock").c_str(), 1);
    std::printf("%-10s %-14s %10s %9s %9s %12s\n", "script", "run", "peak MB", "x file", "seconds",
                "x isql time");
    for (const long mb : sizes) {
        const fs::path plain = folder / "insert.sql";
        WriteScript(plain, mb, "", "");
        const double file_mb = static_cast<double>(fs::file_size(plain)) / (1024.0 * 1024.0);
        const fs::path packed = folder / "insert.Zql";
        fs::remove(packed);
        if (Measure({TALLO_RUN_PROGRAM, "pack", plain.string()}, "", folder.string()).code != 0) {
            std::fprintf(stderr, "cannot pack %s\n", plain.c_str());
            return 2;
        }
        double isql_seconds = 0;
        auto row = [&](const char* run, const Peak& p) {
            const double peak_mb = static_cast<double>(p.peak_kb) / 1024.0;
            std::printf("%6.1f MB  %-14s %10.1f %8.2fx %9.2f", file_mb, run, peak_mb, peak_mb / file_mb,
                        p.seconds);
            if (isql_seconds > 0)
                std::printf(" %11.2fx", p.seconds / isql_seconds);
            std::printf("  (%s MB)%s\n", p.parts.c_str(), p.code == 0 ? "" : "  (failed)");
            std::fflush(stdout);
        };
        if (mb <= isql_limit) {
            const fs::path isql_script = folder / "insert-isql.sql";
            WriteScript(isql_script, mb,
                        "set names win1251;\nconnect '" + db.string() + "' user SYSDBA password masterkey;\n",
                        "exit;\n");
            MakeDatabase(db, folder);
            const Peak p = Measure({TALLO_ISQL, "-q", "-i", isql_script.string()}, "", folder.string());
            isql_seconds = p.seconds;
            row("isql-fb", p);
            fs::remove(isql_script);
        }
        MakeDatabase(db, folder);
        row("tallo-run", Measure({TALLO_RUN_PROGRAM, "run", "--database", db.string(), plain.string()}, "",
                                 folder.string()));
        MakeDatabase(db, folder);
        row("tallo-run .zql", Measure({TALLO_RUN_PROGRAM, "run", "--database", db.string(), packed.string()},
                                      "", folder.string()));
#ifdef TALLO_WINDOW_BENCH
        // The main window, offscreen: the whole run command, protocol saved.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        for (const fs::path& script : {plain, packed}) {
            MakeDatabase(db, folder);
            row(script == plain ? "window" : "window .zql",
                Measure({TALLO_WINDOW_BENCH, "--script", script.string(), "--database", db.string()}, "",
                        folder.string()));
        }
#endif
    }
    fs::remove_all(folder);
    return 0;
}
