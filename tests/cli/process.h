// Runs a program as a child process and collects what it printed: through
// pipes, or on a pseudo-terminal for the cases that need a real terminal.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tallo::testing {

struct ProcessResult {
    int code = -1;   // exit code, or -1 when the child did not exit normally
    int signal = 0;  // the signal that ended it, when one did
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::string cwd;                                        // empty: unchanged
    std::map<std::string, std::optional<std::string>> env;  // nullopt removes the variable
    std::string input;                                      // stdin (a pipe); empty: /dev/null
    std::function<void()> in_child;                         // runs in the child before exec
    std::function<void(pid_t)> meanwhile;                   // runs beside the child, given its pid
};

namespace detail {

inline void ApplyEnvironment(const ProcessOptions& options) {
    for (const auto& [name, value] : options.env) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
}

[[noreturn]] inline void Exec(const std::vector<std::string>& argv, const ProcessOptions& options) {
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0)
        ::_exit(126);
    ApplyEnvironment(options);
    if (options.in_child)
        options.in_child();
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

inline int WaitStatus(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

inline int Wait(pid_t pid) {
    const int status = WaitStatus(pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace detail

// argv[0] is the program's path.
inline ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {}) {
    int out_pipe[2], err_pipe[2], in_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0 || ::pipe(in_pipe) != 0)
        std::abort();
    pid_t pid = ::fork();
    if (pid == 0) {
        if (options.input.empty()) {
            int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, 0);
        } else {
            ::dup2(in_pipe[0], 0);
        }
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1], in_pipe[0], in_pipe[1]})
            ::close(fd);
        detail::Exec(argv, options);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    ::close(in_pipe[0]);
    std::thread meanwhile;
    if (options.meanwhile)
        meanwhile = std::thread(options.meanwhile, pid);
    // The input is small; a child that does not read it gets EPIPE, not us.
    std::signal(SIGPIPE, SIG_IGN);
    if (!options.input.empty()) {
        ssize_t ignored = ::write(in_pipe[1], options.input.data(), options.input.size());
        (void)ignored;
    }
    ::close(in_pipe[1]);
    ProcessResult result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    while (open_count > 0) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buf[4096];
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    // Joined before the child is reaped, so its pid stays the child's.
    if (meanwhile.joinable())
        meanwhile.join();
    const int status = detail::WaitStatus(pid);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

// Runs the program with stdin, stdout and stderr on one pseudo-terminal. When
// the terminal output contains `prompt`, `answer` is typed. Everything the
// terminal showed comes back in out.
inline ProcessResult RunOnTerminal(const std::vector<std::string>& argv, const ProcessOptions& options,
                                   const std::string& prompt = {}, const std::string& answer = {}) {
    int master = -1;
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 30;
    pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0)
        std::abort();
    if (pid == 0)
        detail::Exec(argv, options);
    ProcessResult result;
    bool answered = prompt.empty();
    for (;;) {
        char buf[4096];
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // EIO once the child has closed its side
        result.out.append(buf, static_cast<std::size_t>(n));
        if (!answered && result.out.find(prompt) != std::string::npos) {
            ssize_t ignored = ::write(master, answer.data(), answer.size());
            (void)ignored;
            answered = true;
        }
    }
    ::close(master);
    result.code = detail::Wait(pid);
    return result;
}

}  // namespace tallo::testing
