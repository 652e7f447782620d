// The tests' private Firebird server (tests/fixtures/fbserver.sh, started by the
// CTest fixture): its folder, port, PID and connection strings.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace tallo::testing {

// Set per build tree by CMake; the fixture's server lives there.
inline std::string TestServerDir() {
    return TALLO_FBSERVER_DIR;
}

// Starts the server unless it runs (its port stays the same after a kill).
inline void StartTestServer() {
    const std::string command =
        "TALLO_FBSERVER_DIR='" + TestServerDir() + "' '" + std::string(TALLO_FBSERVER_SCRIPT) + "' start";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("the test server does not start");
}

inline std::string TestServerPort() {
    std::string port;
    std::ifstream(TestServerDir() + "/port") >> port;
    if (port.empty())
        throw std::runtime_error("the test server has no port (not started?)");
    return port;
}

// "127.0.0.1/PORT:path": a database on the test server.
inline std::string TestServerDatabase(const std::string& path) {
    return "127.0.0.1/" + TestServerPort() + ":" + path;
}

// Kills the server with SIGKILL and waits until it is gone.
inline void KillTestServer() {
    pid_t pid = 0;
    std::ifstream(TestServerDir() + "/firebird.pid") >> pid;
    if (pid <= 0 || ::kill(pid, SIGKILL) != 0)
        throw std::runtime_error("the test server is not running");
    for (int i = 0; i < 500 && ::kill(pid, 0) == 0; ++i)
        ::usleep(10000);
}

}  // namespace tallo::testing
