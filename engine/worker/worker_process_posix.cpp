// What the library starts its worker with on POSIX: the program beside the
// library, the caller's environment and Firebird's settings.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/failure.h"
#include "engine/worker/host.h"
#include "engine/worker/host_posix.h"

extern char** environ;

namespace tallo::engine::worker {

namespace {

// The folder of the module holding this code, taken when it was loaded
// (the current directory may change afterwards).
char g_folder[PATH_MAX + 1];

__attribute__((constructor)) void RememberFolder() {
    Dl_info info{};
    const char* name = nullptr;
    if (::dladdr(reinterpret_cast<void*>(&RememberFolder), &info) != 0 && info.dli_fname != nullptr &&
        std::strchr(info.dli_fname, '/') != nullptr)
        name = info.dli_fname;
    char real[PATH_MAX + 1];
    if (::realpath(name != nullptr ? name : "/proc/self/exe", real) == nullptr)
        return;
    char* slash = std::strrchr(real, '/');
    if (slash == nullptr)
        return;
    slash[1] = '\0';
    std::snprintf(g_folder, sizeof g_folder, "%s", real);
}

// The variable tallo-run hands a password over in never reaches the worker.
bool Handed(const char* entry) {
    return std::strncmp(entry, "TALLO_PASSWORD=", 15) != 0;
}

}  // namespace

std::string SystemText(int error) {
    return std::strerror(error);
}

// A descriptor moved to 5 or above, so that handing descriptors to the
// worker as 3 and 4 never overwrites one with the other.
int HighDescriptor(int fd) {
    if (fd < 0)
        throw EngineFailure("Cannot make the channel to the engine's worker: " + SystemText(errno));
    if (fd >= 5)
        return fd;
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 5);
    const int error = errno;
    ::close(fd);
    if (high < 0)
        throw EngineFailure("Cannot make the channel to the engine's worker: " + SystemText(error));
    return high;
}

const char* ModuleFolder() {
    return g_folder;
}

// The worker's environment when it starts: the caller's.
std::vector<char*> WorkerEnvironment() {
    std::vector<char*> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (Handed(*e))
            env.push_back(*e);
    }
    env.push_back(nullptr);
    return env;
}

// The caller's environment as it is now, each entry ended by a NUL byte:
// the worker takes it over before each run.
std::string EnvironmentBlock() {
    std::string block;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (Handed(*e))
            block.append(*e).push_back('\0');
    }
    return block;
}

// What Firebird reads once, when the worker loads it (its root, lock and
// temporary folders): a worker started under other values is replaced.
std::string FirebirdSettings() {
    std::vector<std::string> entries;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (std::strncmp(*e, kFirebirdPrefix, std::strlen(kFirebirdPrefix)) == 0)
            entries.emplace_back(*e);
    }
    std::sort(entries.begin(), entries.end());
    std::string settings;
    for (const std::string& entry : entries)
        settings.append(entry).push_back('\0');
    return settings;
}

std::string WorkerProgram() {
    return std::string(g_folder) + kWorkerProgramName;
}

}  // namespace tallo::engine::worker
