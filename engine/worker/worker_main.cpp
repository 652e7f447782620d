// The engine's worker program: runs scripts on Firebird, one after another,
// for the engine library that started it. Each run's request (the caller's
// current folder, locale, environment, the script file's folder and the
// script) comes through the
// channel, descriptor 3; the reports go back as frames into the ring of
// memory at descriptor 4, each statement's before the statement is sent to
// the database, so a worker that dies leaves the library every line made
// until then. A stop byte on the channel, or the library going away, stops
// the run: the running statement is cancelled and nothing more is
// committed. The worker ends when the library closes the channel.
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/interpreter.h"
#include "engine/session.h"
#include "engine/worker/channel.h"

namespace {

using namespace tallo::engine;
using namespace tallo::engine::worker;

constexpr int kChannel = 3;
constexpr int kRing = 4;

// Set once the library is gone: no one reads the ring any more.
std::atomic<bool> g_library_gone{false};

// Asks the library to read the ring now.
void WakeLibrary() {
    const char wake = kWakeByte;
    [[maybe_unused]] const ssize_t sent = ::send(kChannel, &wake, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

bool ReadAll(char* into, std::size_t size) {  // from the channel
    while (size > 0) {
        const ssize_t got = ::read(kChannel, into, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        into += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// Every report goes into the ring as it is made: there it is the library's,
// whatever happens to the worker next.
class RingReporter : public Reporter {
  public:
    RingReporter(void* ring, StopSignal& stop) : ring_(ring), stop_(stop) { out_.reserve(4096); }

    void Error(const std::string& message, const std::string& where) override {
        AppendError(out_, message, where);
        Flush();
    }
    void Status(const std::string& text) override {
        AppendText(out_, FrameKind::Status, text);
        Flush();
    }
    void Statement(const std::string& text) override {
        AppendText(out_, FrameKind::Statement, text);
        Flush();
    }
    void Executing(std::size_t index, std::size_t total, std::uint32_t line,
                   const std::string& file) override {
        AppendExecuting(out_, index, total, line, file);
        Flush();
    }
    void Done(int errors) {
        AppendDone(out_, errors);
        Flush();
        WakeLibrary();
    }

  private:
    // Into the ring; while it is full the library is woken and waited for.
    void Flush() {
        std::string_view rest(out_);
        bool woken = false;
        while (!rest.empty() && !g_library_gone.load(std::memory_order_acquire)) {
            const std::size_t piece = std::min(rest.size(), kRingBytes / 4);
            if (RingPut(ring_, rest.substr(0, piece))) {
                rest.remove_prefix(piece);
                continue;
            }
            if (!woken) {
                WakeLibrary();
                woken = true;
            }
            ::usleep(200);
        }
        if (!rest.empty())
            stop_.Request();  // no one hears the run any more: it stops
        out_.clear();
    }

    void* ring_;
    StopSignal& stop_;
    std::string out_;
};

// One run asked for by the library: the caller's current folder, locale and
// environment, the folder the script's relative INPUT names are taken from
// ("" for the current folder), and the script's length (its bytes stay with
// the library, which hands them out piece by piece).
struct Request {
    std::string folder, locale, environment, script_folder;
    std::uint64_t script_size = 0;
};

// Reads the channel on a thread of its own: requests go to the main thread,
// a stop request to the run under way; the library's going away stops
// that run and ends the worker once it is idle.
class Listener {
  public:
    // The next request; false once the library has gone.
    bool Next(Request& request) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return pending_ || gone_; });
        if (!pending_)
            return false;
        request = std::move(*pending_);
        pending_.reset();
        return true;
    }
    // The piece of the script asked for last; false once the library has
    // gone.
    bool TakePiece(std::string& into) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return piece_ || gone_; });
        if (!piece_)
            return false;
        into.append(*piece_);
        piece_.reset();
        return true;
    }
    // The stop signal of the run under way (null between runs).
    void RunUnderWay(StopSignal* stop) {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = stop;
    }

    void Listen() {
        for (;;) {
            char kind = 0;
            if (!ReadAll(&kind, 1)) {
                Gone();
                return;
            }
            if (kind == kStopByte) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stop_)
                    stop_->Request();
                continue;
            }
            if (kind == kPieceByte) {
                std::string piece;
                if (!ReadPart(piece)) {
                    Gone();
                    return;
                }
                std::lock_guard<std::mutex> lock(mutex_);
                piece_ = std::move(piece);
                ready_.notify_all();
                continue;
            }
            Request request;
            char size[8];
            if (kind != kRequestByte || !ReadPart(request.folder) || !ReadPart(request.locale) ||
                !ReadPart(request.environment) || !ReadPart(request.script_folder) || !ReadAll(size, 8)) {
                Gone();
                return;
            }
            request.script_size = ReadLengthPrefix(size);
            std::lock_guard<std::mutex> lock(mutex_);
            pending_ = std::move(request);
            ready_.notify_all();
        }
    }

  private:
    static bool ReadPart(std::string& part) {
        char prefix[8];
        if (!ReadAll(prefix, sizeof prefix))
            return false;
        part.resize(ReadLengthPrefix(prefix));
        return ReadAll(part.data(), part.size());
    }
    void Gone() {
        g_library_gone.store(true, std::memory_order_release);
        std::lock_guard<std::mutex> lock(mutex_);
        gone_ = true;
        if (stop_)
            stop_->Request();
        ready_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::optional<Request> pending_;
    std::optional<std::string> piece_;
    bool gone_ = false;
    StopSignal* stop_ = nullptr;
};

// The script as the library holds it, read piece by piece.
class LibraryText final : public ScriptSource {
  public:
    LibraryText(std::uint64_t size, Listener& listener) : size_(size), listener_(listener) {}
    std::uint64_t Size() const override { return size_; }
    void Read(std::uint64_t offset, std::size_t size, std::string& into) override {
        std::string ask(1, kFetchByte);
        ask += LengthPrefix(offset);
        ask += LengthPrefix(size);
        std::string_view rest(ask);
        while (!rest.empty()) {
            const ssize_t sent = ::send(kChannel, rest.data(), rest.size(), MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent < 0)
                break;
            rest.remove_prefix(static_cast<std::size_t>(sent));
        }
        if (!rest.empty() || !listener_.TakePiece(into))
            throw EngineFailure("The engine library went away during the run");
    }

  private:
    std::uint64_t size_;
    Listener& listener_;
};

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The caller's environment, but for Firebird's own settings: those were
// read when Firebird was loaded, and stay as they were then.
void TakeEnvironment(const std::string& block) {
    std::vector<std::string> names;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (!StartsWith(*e, kFirebirdPrefix))
            names.emplace_back(*e, std::strcspn(*e, "="));
    }
    for (const std::string& name : names)
        ::unsetenv(name.c_str());
    for (std::size_t at = 0; at < block.size();) {
        const std::size_t end = block.find('\0', at);
        const std::string entry = block.substr(at, end - at);
        at = end == std::string::npos ? block.size() : end + 1;
        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos || equals == 0 || StartsWith(entry.c_str(), kFirebirdPrefix))
            continue;
        ::setenv(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, 1);
    }
}

int Run(const Request& request, Listener& listener, void* ring, StopSignal& stop) {
    RingReporter reporter(ring, stop);
    int errors = 0;
    try {
        if (::chdir(request.folder.c_str()) != 0) {
            reporter.Error(
                "Cannot work in the current folder \"" + request.folder + "\": " + std::strerror(errno),
                "Before the first statement");
            errors = 1;
        } else {
            std::setlocale(LC_ALL, request.locale.c_str());
            TakeEnvironment(request.environment);
            LibraryText script(request.script_size, listener);
            errors = RunScript(
                script, reporter, [] { return MakeFirebirdSession(); }, &stop, request.script_folder);
        }
    } catch (const std::exception& e) {
        reporter.Error(std::string("Internal engine failure: ") + e.what(), "");
        ++errors;
    }
    reporter.Done(errors);
    return errors;
}

}  // namespace

int main() {
    ::signal(SIGPIPE, SIG_IGN);
    // A crash ends the process with its own signal, which the library
    // names to the operator (a sanitizer's handler would turn it into an
    // abort).
    for (int fatal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        ::signal(fatal, SIG_DFL);
    void* ring = ::mmap(nullptr, kRingMapping, PROT_READ | PROT_WRITE, MAP_SHARED, kRing, 0);
    if (ring == MAP_FAILED)
        return 3;
    ::close(kRing);

    // Lives as long as the process: its thread is never joined.
    auto* listener = new Listener;
    std::thread([listener] { listener->Listen(); }).detach();
    Request request;
    while (listener->Next(request)) {
        StopSignal stop;
        listener->RunUnderWay(&stop);
        Run(request, *listener, ring, stop);
        listener->RunUnderWay(nullptr);
        request = Request{};
    }
    ShutdownFirebirdClient();
    ::_exit(0);
}
