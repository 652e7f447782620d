// The embedded engine for a user who cannot write Firebird's default lock
// folder. Each case forks before anything touches Firebird, so this binary's
// own process never loads the engine.
#include "engine/firebird/lock_folder.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tests/firebird/fb_test_support.h"
#include "tests/support/unprivileged.h"

namespace tallo::testing {
namespace {

using engine::fb::ChooseLockFolder;

TEST(LockFolderChoice, AnExplicitSettingStands) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0500);
    EXPECT_EQ(ChooseLockFolder("/somewhere", dir.path(), 1000), "");
    ::chmod(dir.path().c_str(), 0700);
}

TEST(LockFolderChoice, WritableOrCreatableDefaultStands) {
    TempDir dir;
    EXPECT_EQ(ChooseLockFolder(nullptr, dir.path(), 1000), "");
    EXPECT_EQ(ChooseLockFolder("", dir / "not-yet", 1000), "");
}

TEST(LockFolderChoice, UnwritableDefaultGivesAPerUserFolder) {
    int rc = RunUnprivileged([] {
        // /proc is never writable: a stand-in for a folder of group firebird.
        std::string chosen = ChooseLockFolder(nullptr, "/proc", 4321);
        if (chosen != "/proc-4321") {
            std::fprintf(stderr, "chose '%s'\n", chosen.c_str());
            return 1;
        }
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

// A user outside group firebird creates and uses an embedded database with
// no setting of their own: the engine picks a private lock folder. The child
// runs with a /tmp of its own (a private mount namespace), where the default
// lock folder belongs to root as Firebird's own does, so neither the
// machine's lock folder nor its /tmp is touched.
constexpr int kNoPrivateTmp = 97;

TEST(UnprivilegedEmbedded, WorksOutOfTheBox) {
    const std::string path = "/tmp/work/nobody.fdb";
    auto private_tmp = [] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0)
            return kNoPrivateTmp;
        if (::mkdir(engine::fb::kDefaultLockFolder, 0770) != 0 || ::mkdir("/tmp/work", 0777) != 0 ||
            ::chmod("/tmp/work", 0777) != 0)
            return kNoPrivateTmp;
        return 0;
    };
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a private /tmp";
    int rc = RunUnprivileged(
        [&] {
            ::unsetenv("FIREBIRD_LOCK");
            try {
                auto session = engine::MakeFirebirdSession();
                CreateWithOneRow(*session, path, "varchar(10)", "'ok'");
                session->Disconnect(true);
                session->Connect(SysdbaParams(path));
                if (Scalar(*session, "select a from t") != "ok")
                    return 2;
                session->Disconnect(true);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "failed: %s\n", e.what());
                return 1;
            }
            // Where the engine put its lock files, when it had to choose.
            const char* lock = std::getenv("FIREBIRD_LOCK");
            if (::access(engine::fb::kDefaultLockFolder, W_OK) != 0) {
                std::string expected =
                    std::string(engine::fb::kDefaultLockFolder) + "-" + std::to_string(::geteuid());
                if (lock == nullptr || expected != lock) {
                    std::fprintf(stderr, "FIREBIRD_LOCK = %s\n", lock ? lock : "(unset)");
                    return 3;
                }
                struct stat st {};
                if (::lstat(lock, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
                    return 4;
            }
            return 0;
        },
        private_tmp);
    if (rc == kNoPrivateTmp)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(rc, 0);
}

}  // namespace
}  // namespace tallo::testing
