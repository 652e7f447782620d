// Runs a piece of a test in a child process without root's privileges, so a
// permission failure is real even when the suite runs as root (as CI does).
#pragma once

#include <unistd.h>

#include <functional>

#include "tests/support/child_process.h"
#include "tests/support/lock_folder_env.h"

namespace tallo::testing {

// The user id the child takes when the suite runs as root ("nobody").
inline constexpr uid_t kUnprivilegedUid = 65534;
inline constexpr gid_t kUnprivilegedGid = 65534;

// RunInChild, the child dropping to an unprivileged user first when it is
// root. A non-zero result of before_drop (run first, with the parent's
// privileges) ends the child with that code.
inline int RunUnprivileged(const std::function<int()>& body, const std::function<int()>& before_drop = {}) {
    return RunInChild([&] {
        if (before_drop) {
            if (int rc = before_drop(); rc != 0)
                return rc;
        }
        if (::geteuid() == 0) {
            if (::setgid(kUnprivilegedGid) != 0 || ::setuid(kUnprivilegedUid) != 0)
                return 98;
            UseTestLockFolder();
            UseTestFirebirdRoot();
        }
        return body();
    });
}

}  // namespace tallo::testing
