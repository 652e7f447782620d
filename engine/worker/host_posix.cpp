// The worker process on POSIX: a socket pair for the channel, a memfd
// mapping for the ring of reports, posix_spawn for the program, poll for the
// worker's wake-ups and end, the stop request and the status line's clock.
// (A Windows build fills host.h with CreateProcess, a pipe, a file mapping
// and an event.)
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "engine/script.h"
#include "engine/worker/channel.h"
#include "engine/worker/host.h"

extern char** environ;

namespace tallo::engine::worker {

namespace {

using Clock = std::chrono::steady_clock;

// bit 0: a call is under way; bit 1: it was asked to stop.
std::atomic<std::uint32_t> g_call{0};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
// Written to on a stop request; never closed, so a signal handler can always
// write to it.
int g_wake[2] = {-1, -1};
std::once_flag g_wake_made;

void MakeWakePipe() {
    std::call_once(g_wake_made, [] {
        if (::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0)
            g_wake[0] = g_wake[1] = -1;
    });
}

void DrainWakePipe() {
    char bytes[64];
    while (g_wake[0] >= 0 && ::read(g_wake[0], bytes, sizeof bytes) > 0) {
    }
}

bool StopAsked() {
    return (g_call.load(std::memory_order_acquire) & 2u) != 0;
}

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

std::string SystemText(int error) {
    return std::strerror(error);
}

// A descriptor moved to 5 or above, so that handing descriptors to the
// worker as 3 and 4 never overwrites one with the other.
int HighDescriptor(int fd) {
    if (fd < 0)
        throw std::runtime_error("Cannot make the channel to the engine's worker: " + SystemText(errno));
    if (fd >= 5)
        return fd;
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 5);
    const int error = errno;
    ::close(fd);
    if (high < 0)
        throw std::runtime_error("Cannot make the channel to the engine's worker: " + SystemText(error));
    return high;
}

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
        throw std::runtime_error("Cannot make the memory the engine's worker reports through: " +
                                 SystemText(error));
    }
    int fd_ = -1;
    RingHeader* mapping_ = nullptr;
};

// The variable tallo-run hands a password over in never reaches the worker.
bool Handed(const char* entry) {
    return std::strncmp(entry, "TALLO_PASSWORD=", 15) != 0;
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
            throw std::runtime_error("Cannot start the engine's worker program \"" + program +
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
            throw std::runtime_error("Cannot make the channel to the engine's worker: " + SystemText(errno));
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

// The worker of the calls; replaced when it died, was killed or no longer
// fits. Only the call under way touches it.
std::unique_ptr<Worker> g_worker;

std::string TwoDigits(long long value) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lld", value);
    return text;
}

std::string Elapsed(Clock::duration elapsed) {
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    std::string text = seconds >= 3600 ? std::to_string(seconds / 3600) + ":" : std::string();
    return text + TwoDigits(seconds / 60 % 60) + ":" + TwoDigits(seconds % 60);
}

class Relay {
  public:
    Relay(const Callbacks& callbacks, Worker& worker)
        : cb_(callbacks),
          channel_(worker.channel()),
          ring_(worker.ring()),
          worker_(worker.process()),
          last_status_(Clock::now()),
          started_(last_status_) {}

    // The run happens in the caller's current folder, locale (file names
    // reach Firebird in the character set it gives) and environment, as it
    // would inside the caller's process; its relative INPUT names are taken
    // from script_folder.
    void SendRequest(std::string_view text, const std::string& script_folder) {
        char* folder = ::getcwd(nullptr, 0);
        if (folder == nullptr)
            throw std::runtime_error("Cannot tell the current folder: " + SystemText(errno));
        std::string head(1, kRequestByte);
        auto add = [&head](std::string_view part) { head.append(LengthPrefix(part.size())).append(part); };
        add(folder);
        std::free(folder);
        const char* locale = std::setlocale(LC_ALL, nullptr);
        add(locale != nullptr ? locale : "C");
        add(EnvironmentBlock());
        add(script_folder);
        head += LengthPrefix(text.size());
        if (Send(head))
            Send(text);
    }

    // The worker died, was killed or broke the reports: it cannot take
    // another call.
    bool Lost() const { return !done_; }

    std::int32_t Run() {
        char wake[256];
        bool open = true;
        while (open && !done_) {
            pollfd fds[2] = {{channel_, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
            const int count = g_wake[0] >= 0 ? 2 : 1;
            const int ready = ::poll(fds, static_cast<nfds_t>(count), TimeoutMs());
            if (ready < 0 && errno != EINTR)
                throw std::runtime_error("Cannot wait for the engine's worker: " + SystemText(errno));
            if (count == 2 && (fds[1].revents & POLLIN) != 0)
                DrainWakePipe();
            if (StopAsked() && !stop_sent_)
                AskToStop();
            // The channel brings only wake-ups, and the worker's end.
            if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                const ssize_t got = ::recv(channel_, wake, sizeof wake, 0);
                if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
                    open = false;
            }
            // After the end too: what the worker put in the ring before it
            // ended is the caller's.
            if (!TakeReports())
                break;
            const auto now = Clock::now();
            if (stop_sent_ && !killed_ && now >= kill_at_) {
                worker_.Kill();
                killed_ = true;
            }
            if (!done_ && now - last_status_ >= kTickInterval)
                Tick(now);
        }
        return Finish();
    }

  private:
    bool Send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(channel_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EINTR)
                    continue;
                return false;  // the worker is gone; its end tells the rest
            }
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    void AskToStop() {
        stop_sent_ = true;
        kill_at_ = Clock::now() + kStopGrace;
        const char stop = kStopByte;
        Send(std::string_view(&stop, 1));
    }

    int TimeoutMs() const {
        auto until = std::min(last_status_ + kTickInterval, Clock::now() + kRingInterval);
        if (stop_sent_ && !killed_ && kill_at_ < until)
            until = kill_at_;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        return left < 0 ? 0 : static_cast<int>(left) + 1;
    }

    // Hands every complete frame in the ring to the callbacks; false once
    // the run's end has come or the reports broke.
    bool TakeReports() {
        std::size_t offset = 0;
        Frame frame;
        try {
            RingTake(ring_, in_);
            while (!done_ && NextFrame(in_, offset, frame))
                Deliver(frame);
        } catch (const ChannelBroken& e) {
            worker_.Kill();
            killed_ = true;
            broken_ = e.what();
            return false;
        }
        in_.erase(0, offset);
        return !done_;
    }

    void Deliver(const Frame& frame) {
        switch (frame.kind) {
            case FrameKind::Error:
                ++errors_;
                if (cb_.on_error)
                    cb_.on_error(frame.first, frame.second);
                break;
            case FrameKind::Status:
                last_status_ = Clock::now();
                if (cb_.on_status)
                    cb_.on_status("", frame.first);
                break;
            case FrameKind::Statement:
                if (cb_.on_statement)
                    cb_.on_statement(frame.first, "");
                break;
            case FrameKind::Executing:
                index_ = frame.index;
                total_ = frame.total;
                line_ = frame.line;
                file_ = frame.first;
                statement_started_ = Clock::now();
                break;
            case FrameKind::Done:
                done_ = true;
                break;
        }
    }

    void Tick(Clock::time_point now) {
        last_status_ = now;
        if (!cb_.on_status)
            return;
        const std::string text = index_ > 0 ? RunningText(index_, total_, line_, now - statement_started_)
                                            : "Reading the script: " + Elapsed(now - started_);
        cb_.on_status("", text.c_str());
    }

    void ReportError(const std::string& message, const std::string& where) {
        ++errors_;
        if (cb_.on_error)
            cb_.on_error(message.c_str(), where.c_str());
    }

    std::string Where() const {
        return index_ > 0 ? DescribeWhere(line_, file_) : "Before the first statement";
    }

    std::int32_t Finish() {
        if (done_)
            return errors_;
        if (!killed_)  // it ended of itself; it is waited for just below
            worker_.Kill();
        const int status = worker_.Wait();
        if (!broken_.empty()) {
            ReportError("The engine's worker broke off the run: " + broken_, Where());
        } else if (killed_) {
            // It did not stop in time: the statement's work dies with it.
            ReportError(StoppedText(index_ > 0 ? index_ : 1, line_), Where());
        } else {
            std::string how = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                                  : "exit code " + std::to_string(WEXITSTATUS(status));
            std::string text = "Firebird stopped unexpectedly (" + how + ")";
            if (index_ > 0)
                text += " while running statement " + std::to_string(index_) + " at line " +
                        std::to_string(line_);
            else
                text += " before the first statement";
            ReportError(text, Where());
        }
        return errors_;
    }

    const Callbacks& cb_;
    int channel_;
    void* ring_;
    WorkerProcess& worker_;
    std::string in_;
    Clock::time_point last_status_;
    Clock::time_point started_;
    Clock::time_point statement_started_{};
    Clock::time_point kill_at_{};
    std::uint64_t index_ = 0;
    std::uint64_t total_ = 0;
    std::uint32_t line_ = 0;
    std::string file_;
    bool stop_sent_ = false;
    bool killed_ = false;
    bool done_ = false;
    std::string broken_;
    std::int32_t errors_ = 0;
};

}  // namespace

bool BeginCall() {
    MakeWakePipe();
    DrainWakePipe();
    std::uint32_t idle = 0;
    return g_call.compare_exchange_strong(idle, 1u, std::memory_order_acq_rel);
}

void EndCall() {
    g_call.store(0, std::memory_order_release);
}

std::int32_t RequestStop() noexcept {
    std::uint32_t state = g_call.load(std::memory_order_acquire);
    for (;;) {
        if ((state & 1u) == 0)
            return 0;
        if ((state & 2u) != 0)
            return 1;
        if (g_call.compare_exchange_weak(state, state | 2u, std::memory_order_acq_rel))
            break;
    }
    if (g_wake[1] >= 0) {
        const int saved = errno;
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(g_wake[1], &byte, 1);
        errno = saved;
    }
    return 1;
}

struct StopRelay::Thread {
    std::thread thread;
    int done[2] = {-1, -1};
};

StopRelay::StopRelay(StopSignal& stop) : thread_(new Thread) {
    if (::pipe2(thread_->done, O_CLOEXEC) != 0)
        throw std::runtime_error("Cannot watch for a stop request: " + SystemText(errno));
    const int done = thread_->done[0];
    thread_->thread = std::thread([&stop, done] {
        for (;;) {
            if (StopAsked()) {
                stop.Request();
                return;
            }
            pollfd fds[2] = {{done, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
            if (::poll(fds, g_wake[0] >= 0 ? 2 : 1, -1) < 0 && errno != EINTR)
                return;
            if ((fds[0].revents & (POLLIN | POLLHUP)) != 0)
                return;
            if ((fds[1].revents & POLLIN) != 0)
                DrainWakePipe();
        }
    });
}

StopRelay::~StopRelay() {
    ::close(thread_->done[1]);
    thread_->thread.join();
    ::close(thread_->done[0]);
    delete thread_;
}

std::string WorkerProgram() {
    return std::string(g_folder) + kWorkerProgramName;
}

std::int32_t RunInWorker(std::string_view text, const std::string& script_folder,
                         const Callbacks& callbacks) {
    if (g_folder[0] == '\0')
        throw std::runtime_error(
            "Cannot find the folder of the script engine, where its worker program lies");
    const std::string program = WorkerProgram();
    std::string settings = FirebirdSettings();
    if (!g_worker || !g_worker->Fits(program, settings)) {
        g_worker.reset();
        g_worker = std::make_unique<Worker>(program, std::move(settings));
    }
    Relay relay(callbacks, *g_worker);
    std::int32_t errors = 0;
    try {
        relay.SendRequest(text, script_folder);
        errors = relay.Run();
    } catch (...) {
        g_worker.reset();
        throw;
    }
    if (relay.Lost())
        g_worker.reset();
    return errors;
}

std::string RunningText(std::uint64_t index, std::uint64_t total, std::uint32_t line,
                        std::chrono::steady_clock::duration elapsed) {
    return "Statement " + std::to_string(index) + " of " + std::to_string(total) + ", line " +
           std::to_string(line) + ": " + Elapsed(elapsed);
}

}  // namespace tallo::engine::worker
