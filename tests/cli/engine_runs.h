// For runs of the built engine in a test's folder: installing it there, a
// statement that runs long, and waiting until a run has reached it.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace tallo::testing {

// The library and beside it the worker program it starts from its own folder.
inline void CopyBuiltEngine(const std::filesystem::path& folder) {
    const std::filesystem::path library = TALLO_ENGINE_LIBRARY;
    std::filesystem::copy_file(library, folder / "IBEScript.dll");
    std::filesystem::copy_file(library.parent_path() / "tallo-engine-worker", folder / "tallo-engine-worker");
}

// One line of script: a statement that runs for 20 s unless it is stopped.
inline const std::string kLongStatement =
    "execute block as declare t0 timestamp; begin t0 = cast('NOW' as timestamp); "
    "while (datediff(second from :t0 to cast('NOW' as timestamp)) < 20) do begin end end;\n";

// Whether the file holds the text, looked at every 20 ms for 20 s at the
// most (a run's unfinished protocol shows a statement as it starts).
inline bool AwaitText(const std::string& file, const std::string& text) {
    for (int i = 0; i < 1000; ++i) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        if (content.str().find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Whether the process still has a handler of its own for the signal (the
// "SigCgt" mask of /proc/PID/status); looked at until it has none, for 5 s
// at the most. A run drops its handlers as it takes the first stop signal.
inline bool AwaitDefaultAction(pid_t pid, int signal) {
    for (int i = 0; i < 500; ++i) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        unsigned long long caught = ~0ULL;
        while (std::getline(in, line)) {
            if (line.rfind("SigCgt:", 0) == 0)
                caught = std::stoull(line.substr(7), nullptr, 16);
        }
        if ((caught & (1ULL << (signal - 1))) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace tallo::testing
