#include "engine/firebird/lock_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace tallo::engine::fb {
namespace {

// Whether the engine could create its files in folder (or create the folder
// itself in its parent, as Firebird does on first use).
bool Usable(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode) && ::access(folder.c_str(), W_OK | X_OK) == 0;
    }
    std::filesystem::path parent = std::filesystem::path(folder).parent_path();
    if (parent.empty())
        parent = ".";
    return ::access(parent.c_str(), W_OK | X_OK) == 0;
}

// The private folder must be ours alone: a folder planted by someone else
// (or a link) would let that user tamper with the lock files.
bool MakePrivateFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
        return false;
    return true;
}

}  // namespace

std::string ChooseLockFolder(const char* env_lock, const std::string& default_folder, unsigned uid) {
    if (env_lock != nullptr && *env_lock != '\0')
        return {};
    if (Usable(default_folder))
        return {};
    std::string folder = default_folder;
    folder.push_back('-');
    folder.append(std::to_string(uid));
    return folder;
}

std::string PrepareLockFolder() {
    static std::once_flag once;
    static std::string chosen;
    std::call_once(once, [] {
        std::string folder = ChooseLockFolder(std::getenv("FIREBIRD_LOCK"), kDefaultLockFolder, ::geteuid());
        if (folder.empty() || !MakePrivateFolder(folder))
            return;
        if (::setenv("FIREBIRD_LOCK", folder.c_str(), 1) == 0)
            chosen = folder;
    });
    return chosen;
}

}  // namespace tallo::engine::fb
