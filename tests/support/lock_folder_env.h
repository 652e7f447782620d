// Firebird keeps the lock files of embedded databases in the folder
// FIREBIRD_LOCK names. Test processes use a folder of the build tree, one per
// user id, apart from the test server's and the machine's own Firebird.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace tallo::testing {

// Points FIREBIRD_LOCK at this user's folder of the build tree (made when
// missing). Called at process start, and again by a child that has dropped
// its privileges.
inline void UseTestLockFolder() {
    const std::string base = TALLO_TEST_LOCK_DIR;
    if (::mkdir(base.c_str(), 01777) == 0)
        ::chmod(base.c_str(), 01777);  // shared by root and unprivileged children, like /tmp
    const std::string mine = base + "/uid-" + std::to_string(::geteuid());
    ::mkdir(mine.c_str(), 0700);
    ::setenv("FIREBIRD_LOCK", mine.c_str(), 1);
}

}  // namespace tallo::testing
