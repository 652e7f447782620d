// Firebird keeps the lock files of embedded databases in the folder
// FIREBIRD_LOCK names, and reads its configuration and security database
// from the root folder FIREBIRD names. Test processes use folders of the
// build tree (a lock folder per user id), apart from the test server's and
// the machine's own Firebird.
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

// Points FIREBIRD at the tests' root folder. A user who cannot read it (an
// unprivileged child when the build tree is out of its reach) keeps the
// machine's, which it can only read.
inline void UseTestFirebirdRoot() {
    const std::string conf = std::string(TALLO_TEST_FIREBIRD_ROOT) + "/firebird.conf";
    if (::access(conf.c_str(), R_OK) == 0)
        ::setenv("FIREBIRD", TALLO_TEST_FIREBIRD_ROOT, 1);
    else
        ::unsetenv("FIREBIRD");
}

}  // namespace tallo::testing
