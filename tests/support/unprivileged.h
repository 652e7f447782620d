// Runs a piece of a test in a child process without root's privileges, so a
// permission failure is real even when the suite runs as root (as CI does).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "tests/support/lock_folder_env.h"

namespace tallo::testing {

// The user id the child takes when the suite runs as root ("nobody").
inline constexpr uid_t kUnprivilegedUid = 65534;
inline constexpr gid_t kUnprivilegedGid = 65534;

// Forks; the child drops to an unprivileged user when it is root, runs body
// and exits with its result (0 = passed). Returns the child's exit code, or
// -1 when it did not exit normally. body must not use GoogleTest assertions;
// it returns a non-zero code and may print what went wrong. A non-zero result
// of before_drop (run first, with the parent's privileges) ends the child
// with that code.
inline int RunUnprivileged(const std::function<int()>& body, const std::function<int()>& before_drop = {}) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (before_drop) {
            if (int rc = before_drop(); rc != 0)
                ::_exit(rc);
        }
        if (::geteuid() == 0) {
            if (::setgid(kUnprivilegedGid) != 0 || ::setuid(kUnprivilegedUid) != 0)
                ::_exit(98);
            UseTestLockFolder();
            UseTestFirebirdRoot();
        }
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
