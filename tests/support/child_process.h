// Runs a piece of a test in a child process, so what it changes there (limits,
// signal dispositions, privileges, open files) stays there.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace tallo::testing {

// Forks; the child runs body and exits with its result (0 = passed). Returns
// the child's exit code, or -1 when it could not start or did not exit
// normally. body must not use GoogleTest assertions; it returns a non-zero
// code and may print what went wrong.
inline int RunInChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int rc = body();
        std::fflush(nullptr);
        ::_exit(rc);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tallo::testing
