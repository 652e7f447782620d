// tallo-run runs one script of N single-row INSERTs (Windows-1251 text)
// against 8 fresh embedded databases, once with --jobs 1 and once with
// --jobs 2, alternating for the given rounds, and prints the best time of
// each and the speed-up (the goal on two cores: at least 1.7x), next to the
// machine's own: two processes of fixed work at once against the same work
// one after the other, for arithmetic and for mapping memory (a virtual
// machine may run the first twice as fast and the second no faster, and each
// run of a database does some of the second).
//   bench_fleet [--statements N] [--databases N] [--rounds N]
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../bench_database.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

int Spawn(const std::vector<std::string>& args, const std::string& input_file = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input_file.empty() ? "/dev/null" : input_file.c_str(),
                                     O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(2);
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Fixed work in a child process: arithmetic only, or mapping, touching and
// unmapping memory as a loader does for each library it looks for (Firebird's
// embedded engine looks for ICU under some hundred names in every process).
pid_t StartWork(bool mapping) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (mapping) {
            for (int i = 0; i < 20000; ++i) {
                void* p = ::mmap(nullptr, 46367, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                if (p == MAP_FAILED)
                    ::_exit(1);
                static_cast<volatile char*>(p)[0] = 1;
                ::munmap(p, 46367);
            }
        } else {
            volatile std::uint64_t x = 1;
            for (std::uint64_t i = 0; i < 400'000'000; ++i)
                x = x * 6364136223846793005ULL + i;
        }
        ::_exit(0);
    }
    return pid;
}

double WorkSeconds(bool mapping, int at_once, int batches) {
    const auto start = std::chrono::steady_clock::now();
    for (int b = 0; b < batches; ++b) {
        std::vector<pid_t> pids;
        for (int i = 0; i < at_once; ++i)
            pids.push_back(StartWork(mapping));
        for (pid_t pid : pids)
            ::waitpid(pid, nullptr, 0);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    int statements = 20000, databases = 8, rounds = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--statements") == 0)
            statements = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--databases") == 0)
            databases = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
    }
    char folder_name[] = "/tmp/tallo-bench-fleet-XXXXXX";
    if (mkdtemp(folder_name) == nullptr)
        return 2;
    const fs::path folder = folder_name;
    fs::copy_file(TALLO_ENGINE_LIBRARY, folder / "IBEScript.dll");
    fs::create_directory(folder / "scripts");
    {
        std::ofstream script(folder / "scripts/insert.sql", std::ios::binary);
        const char* words[] = {"\xCF\xF0\xE8\xE2\xE5\xF2", "\xEC\xE8\xF0"};  // Windows-1251 words
        for (int i = 0; i < statements; ++i)
            script << "INSERT INTO bench (id, name, amount) VALUES (" << i << ", '" << words[i % 2] << " "
                   << i << "', " << (i % 1000) << ".25);\n";
        script << "COMMIT;\n";
    }
    auto make_databases = [&] {
        std::vector<std::string> args;
        for (int d = 0; d < databases; ++d) {
            const fs::path db = folder / ("db" + std::to_string(d) + ".fdb");
            bench::MakeBenchDatabase(db, folder, [](const std::string& sql) {
                return Spawn({TALLO_ISQL, "-q"}, sql);
            });
            args.insert(args.end(), {"--database", db.string()});
        }
        return args;
    };
    auto run = [&](int jobs) {
        std::vector<std::string> args{TALLO_RUN_PROGRAM, "run", "--jobs", std::to_string(jobs)};
        const std::vector<std::string> dbs = make_databases();
        args.insert(args.end(), dbs.begin(), dbs.end());
        args.push_back((folder / "scripts/insert.sql").string());
        const auto start = std::chrono::steady_clock::now();
        const int code = Spawn(args);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (code != 0) {
            std::fprintf(stderr, "tallo-run --jobs %d ended with %d\n", jobs, code);
            std::exit(1);
        }
        return seconds;
    };
    setenv("TALLO_PASSWORD", "masterkey", 1);
    double best1 = 1e9, best2 = 1e9;
    for (int r = 0; r < rounds; ++r) {
        best1 = std::min(best1, run(1));
        best2 = std::min(best2, run(2));
    }
    double serial = 1e9, parallel = 1e9, map_serial = 1e9, map_parallel = 1e9;
    for (int r = 0; r < rounds; ++r) {
        serial = std::min(serial, WorkSeconds(false, 1, 2));
        parallel = std::min(parallel, WorkSeconds(false, 2, 1));
        map_serial = std::min(map_serial, WorkSeconds(true, 1, 2));
        map_parallel = std::min(map_parallel, WorkSeconds(true, 2, 1));
    }
    std::printf(
        "tallo-run, %d databases x %d INSERTs: --jobs 1 %.2f s, --jobs 2 %.2f s, speed-up %.2fx "
        "(goal >= 1.7x on 2 cores)\n"
        "this machine, two processes at once against one after the other: arithmetic %.2fx, mapping "
        "memory %.2fx\n",
        databases, statements, best1, best2, best1 / best2, serial / parallel, map_serial / map_parallel);
    fs::remove_all(folder);
    return 0;
}
