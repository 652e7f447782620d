// The worker process on POSIX: a socket pair for the channel, posix_spawn
// for the program, poll for the reports, the stop request and the status
// line's clock. (A Windows build fills host.h with CreateProcess, a pipe
// pair and an event.)
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
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
    void Reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

std::string SystemText(int error) {
    return std::strerror(error);
}

// The worker's environment: the caller's, without the variable tallo-run
// hands a password over in.
std::vector<char*> WorkerEnvironment() {
    std::vector<char*> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (std::strncmp(*e, "TALLO_PASSWORD=", 15) != 0)
            env.push_back(*e);
    }
    env.push_back(nullptr);
    return env;
}

// A started worker; killed and reaped when it is dropped still running.
class WorkerProcess {
  public:
    WorkerProcess(const std::string& program, int channel) {
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        // The channel becomes descriptor 3; nothing else of the caller's is
        // inherited (a lock on a protocol file among them).
        posix_spawn_file_actions_adddup2(&actions, channel, 3);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 2, 1);
        posix_spawn_file_actions_addclosefrom_np(&actions, 4);
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
    Relay(const Callbacks& callbacks, int channel, WorkerProcess& worker)
        : cb_(callbacks),
          channel_(channel),
          worker_(worker),
          last_status_(Clock::now()),
          started_(last_status_) {}

    // The caller's locale goes first: file names reach Firebird in the
    // character set it gives, as they would inside the caller's process.
    void SendScript(std::string_view text) {
        const char* locale = std::setlocale(LC_ALL, nullptr);
        const std::string_view name = locale != nullptr ? locale : "C";
        if (Send(LengthPrefix(name.size())) && Send(name) && Send(LengthPrefix(text.size())))
            Send(text);
    }

    std::int32_t Run() {
        std::vector<char> chunk(1 << 16);
        bool open = true;
        while (open) {
            pollfd fds[2] = {{channel_, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
            const int count = g_wake[0] >= 0 ? 2 : 1;
            const int ready = ::poll(fds, static_cast<nfds_t>(count), TimeoutMs());
            if (ready < 0 && errno != EINTR)
                throw std::runtime_error("Cannot wait for the engine's worker: " + SystemText(errno));
            if (count == 2 && (fds[1].revents & POLLIN) != 0)
                DrainWakePipe();
            if (StopAsked() && !stop_sent_)
                AskToStop();
            if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                const ssize_t got = ::recv(channel_, chunk.data(), chunk.size(), 0);
                if (got > 0) {
                    in_.append(chunk.data(), static_cast<std::size_t>(got));
                    if (!Dispatch())
                        break;
                } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                    open = false;
                }
            }
            const auto now = Clock::now();
            if (stop_sent_ && !killed_ && now >= kill_at_) {
                worker_.Kill();
                killed_ = true;
            }
            if (!done_ && now - last_status_ >= kTickInterval)
                Tick(now);
            if (done_)
                break;
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
        auto until = last_status_ + kTickInterval;
        if (stop_sent_ && !killed_ && kill_at_ < until)
            until = kill_at_;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        return left < 0 ? 0 : static_cast<int>(left) + 1;
    }

    // Hands every complete frame to the callbacks; false once the run's end
    // has come or the channel broke.
    bool Dispatch() {
        std::size_t offset = 0;
        Frame frame;
        try {
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
        int status = 0;
        if (done_) {
            // The worker only detaches and exits now; one that hangs there
            // is not waited for long.
            if (!worker_.WaitFor(kStopGrace, status)) {
                worker_.Kill();
                worker_.Wait();
            }
            return errors_;
        }
        status = worker_.Wait();
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

std::int32_t RunInWorker(std::string_view text, const Callbacks& callbacks) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        throw std::runtime_error("Cannot make the channel to the engine's worker: " + SystemText(errno));
    Fd ours(pair[0]);
    Fd theirs(pair[1]);
    if (g_folder[0] == '\0')
        throw std::runtime_error(
            "Cannot find the folder of the script engine, where its worker program lies");
    WorkerProcess worker(WorkerProgram(), theirs.get());
    theirs.Reset();
    Relay relay(callbacks, ours.get(), worker);
    relay.SendScript(text);
    return relay.Run();
}

std::string RunningText(std::uint64_t index, std::uint64_t total, std::uint32_t line,
                        std::chrono::steady_clock::duration elapsed) {
    return "Statement " + std::to_string(index) + " of " + std::to_string(total) + ", line " +
           std::to_string(line) + ": " + Elapsed(elapsed);
}

}  // namespace tallo::engine::worker
