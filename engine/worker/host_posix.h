// The library's side of the worker on POSIX, the pieces its files share: the
// call state's wake-up pipe, and the worker process with its channel and
// ring of reports.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "engine/failure.h"
#include "engine/worker/channel.h"

namespace tallo::engine::worker {

using Clock = std::chrono::steady_clock;

// The call state (call_state_posix.cpp).
bool StopAsked();
// The read end of the pipe a stop request writes to; -1 when there is none.
int WakeDescriptor();
void DrainWakePipe();

// What the worker is started with (worker_process_posix.cpp).
std::string SystemText(int error);
// A descriptor moved to 5 or above, so that handing descriptors to the
// worker as 3 and 4 never overwrites one with the other.
int HighDescriptor(int fd);
// The folder of the module holding this code, as it was when it was loaded;
// empty when it could not be told.
const char* ModuleFolder();
// The worker's environment when it starts: the caller's, without the
// variable tallo-run hands a password over in.
std::vector<char*> WorkerEnvironment();
// The caller's environment as it is now, each entry ended by a NUL byte:
// the worker takes it over before each run.
std::string EnvironmentBlock();
// What Firebird reads once, when the worker loads it (its root, lock and
// temporary folders): a worker started under other values is replaced.
std::string FirebirdSettings();

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void Reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
};

// The reports' ring: memory of its own, mapped here and in the worker.
class RingMemory {
  public:
    RingMemory() {
        fd_ = HighDescriptor(::memfd_create("tallo-engine-reports", MFD_CLOEXEC));
        if (::ftruncate(fd_, static_cast<off_t>(kRingMapping)) != 0)
            Fail();
        void* mapping = ::mmap(nullptr, kRingMapping, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (mapping == MAP_FAILED)
            Fail();
        mapping_ = new (mapping) RingHeader;
    }
    ~RingMemory() {
        CloseFd();
        if (mapping_ != nullptr)
            ::munmap(mapping_, kRingMapping);
    }
    RingMemory(const RingMemory&) = delete;
    RingMemory& operator=(const RingMemory&) = delete;
    int fd() const { return fd_; }
    void* get() const { return mapping_; }
    void CloseFd() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    [[noreturn]] void Fail() {
        const int error = errno;
        CloseFd();
        throw EngineFailure("Cannot make the memory the engine's worker reports through: " +
                            SystemText(error));
    }
    int fd_ = -1;
    RingHeader* mapping_ = nullptr;
};

// A started worker; killed and reaped when it is dropped still running.
class WorkerProcess {
  public:
    WorkerProcess(const std::string& program, int channel, int ring) {
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        // The channel becomes descriptor 3 and the ring's memory 4; nothing
        // else of the caller's is inherited (a lock on a protocol file among
        // them). Both descriptors are 5 or above here (see RunInWorker).
        posix_spawn_file_actions_adddup2(&actions, channel, 3);
        posix_spawn_file_actions_adddup2(&actions, ring, 4);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 2, 1);
        posix_spawn_file_actions_addclosefrom_np(&actions, 5);
        // A process group of its own: the terminal's Ctrl+C is the caller's
        // to answer, and reaches the worker as a stop request.
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM})
            sigaddset(&defaults, s);
        posix_spawnattr_setflags(&attributes,
                                 POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        std::vector<char*> env = WorkerEnvironment();
        std::string arg0 = program;
        char* argv[] = {arg0.data(), nullptr};
        const int error = ::posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv, env.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        if (error != 0) {
            pid_ = -1;
            throw EngineFailure("Cannot start the engine's worker program \"" + program +
                                "\": " + SystemText(error));
        }
    }
    ~WorkerProcess() {
        if (pid_ > 0) {
            Kill();
            Wait();
        }
    }
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    void Kill() {
        if (pid_ > 0)
            ::kill(pid_, SIGKILL);
    }
    // The wait status once it has ended.
    int Wait() {
        int status = 0;
        while (pid_ > 0 && ::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }
    // Waits at most `limit`; false when it is still running then.
    bool WaitFor(Clock::duration limit, int& status) {
        if (pid_ <= 0)
            return true;
        const auto until = Clock::now() + limit;
        for (;;) {
            const pid_t got = ::waitpid(pid_, &status, WNOHANG);
            if (got == pid_ || (got < 0 && errno != EINTR)) {
                pid_ = -1;
                return true;
            }
            if (Clock::now() >= until)
                return false;
            ::usleep(2000);
        }
    }

  private:
    pid_t pid_ = -1;
};

// A worker process that runs one call after another: Firebird is loaded
// and set up once (in a fresh process that alone takes about a tenth of a
// second), not for every call. It ends when its channel closes.
class Worker {
  public:
    Worker(const std::string& program, std::string settings)
        : program_(program), settings_(std::move(settings)) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            throw EngineFailure("Cannot make the channel to the engine's worker: " + SystemText(errno));
        channel_.Reset(pair[0]);
        Fd theirs(HighDescriptor(pair[1]));
        process_.emplace(program, theirs.get(), ring_.fd());
        ring_.CloseFd();
    }
    // Closing the channel ends an idle worker; one that does not end soon
    // is killed.
    ~Worker() {
        channel_.Reset();
        int status = 0;
        if (process_ && !process_->WaitFor(std::chrono::seconds(2), status))
            process_.reset();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Still there, and started under the settings given.
    bool Fits(const std::string& program, const std::string& settings) {
        int status = 0;
        return program == program_ && settings == settings_ && !process_->WaitFor({}, status);
    }
    int channel() const { return channel_.get(); }
    void* ring() const { return ring_.get(); }
    WorkerProcess& process() { return *process_; }

  private:
    std::string program_;
    std::string settings_;
    Fd channel_;
    RingMemory ring_;
    std::optional<WorkerProcess> process_;
};

}  // namespace tallo::engine::worker
