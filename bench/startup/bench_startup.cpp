// Starts the tool several times and prints the median time from the process
// start to the first paint of its main window, against the time a process
// start of /bin/true takes in the same run. Uses the display given in
// DISPLAY, else Qt's offscreen platform. Usage: bench_startup [runs]
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

long long NowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Runs the program with the extra environment; returns its standard output.
std::string Run(const char* program, const std::vector<std::string>& extra_env, double* wall_ms) {
    std::vector<std::string> env_store(extra_env);
    for (char** e = environ; *e != nullptr; ++e)
        env_store.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& s : env_store)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    int pipefd[2];
    if (pipe(pipefd) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipefd[0]);
    char* argv[] = {const_cast<char*>(program), nullptr};
    pid_t pid = 0;
    const long long start = NowNs();
    int rc = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipefd[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(pipefd[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(pipefd[0]);
    if (rc == 0)
        waitpid(pid, nullptr, 0);
    if (wall_ms != nullptr)
        *wall_ms = static_cast<double>(NowNs() - start) / 1e6;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::vector<std::string> env;
    if (std::getenv("DISPLAY") == nullptr)
        env.emplace_back("QT_QPA_PLATFORM=offscreen");
    std::printf("platform: %s\n", std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "offscreen");

    std::vector<double> baseline, shown;
    {
        std::vector<std::string> e(env);  // warms the file cache
        e.push_back("TALLO_STARTUP_BENCH=" + std::to_string(NowNs()));
        Run(TALLO_EXE, e, nullptr);
    }
    for (int i = 0; i < runs; ++i) {
        double ms = 0;
        Run("/bin/true", {}, &ms);
        baseline.push_back(ms);
        std::vector<std::string> e(env);
        e.push_back("TALLO_STARTUP_BENCH=" + std::to_string(NowNs()));
        std::string out = Run(TALLO_EXE, e, nullptr);
        shown.push_back(std::atof(out.c_str()));
        std::printf("run %d: window shown after %.1f ms\n", i + 1, shown.back());
    }
    const double m = Median(shown), b = Median(baseline);
    std::printf("median start to window shown: %.1f ms (goal < 300 ms)\n", m);
    std::printf("median process start of /bin/true: %.2f ms; ratio %.0fx\n", b, b > 0 ? m / b : 0.0);
    return m < 300 ? 0 : 1;
}
