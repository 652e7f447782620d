// Compiled into every test program (see CMakeLists.txt).
#include "tests/support/lock_folder_env.h"

namespace {
const bool kLockFolderSet = [] {
    tallo::testing::UseTestLockFolder();
    tallo::testing::UseTestFirebirdRoot();
    return true;
}();
}  // namespace
