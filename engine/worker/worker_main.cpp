// The engine's worker program: runs one script on Firebird for the engine
// library that started it. The caller's locale and the script come through
// descriptor 3 (each its length, then its bytes); the reports go back through it as frames, each
// statement's before the statement is sent to the database, so a worker
// that dies leaves the library every line made until then. A stop byte on
// the channel, or the library going away, stops the run: the running
// statement is cancelled and nothing more is committed.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <string>
#include <thread>

#include "engine/interpreter.h"
#include "engine/session.h"
#include "engine/worker/channel.h"

namespace {

using namespace tallo::engine;
using namespace tallo::engine::worker;

constexpr int kChannel = 3;
// Reports are held back at most this much before a statement runs.
constexpr std::size_t kFlushSize = 256 * 1024;

bool ReadAll(char* into, std::size_t size) {
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

class ChannelReporter : public Reporter {
  public:
    explicit ChannelReporter(StopSignal& stop) : stop_(stop) { out_.reserve(kFlushSize + 4096); }

    void Error(const std::string& message, const std::string& where) override {
        AppendError(out_, message, where);
        FlushWhenFull();
    }
    void Status(const std::string& text) override {
        AppendText(out_, FrameKind::Status, text);
        FlushWhenFull();
    }
    void Statement(const std::string& text) override {
        AppendText(out_, FrameKind::Statement, text);
        FlushWhenFull();
    }
    void Executing(std::size_t index, std::size_t total, std::uint32_t line,
                   const std::string& file) override {
        AppendExecuting(out_, index, total, line, file);
        Flush();
    }
    void Done(int errors) {
        AppendDone(out_, errors);
        Flush();
    }

  private:
    void FlushWhenFull() {
        if (out_.size() >= kFlushSize)
            Flush();
    }
    void Flush() {
        std::size_t at = 0;
        while (!gone_ && at < out_.size()) {
            const ssize_t sent = ::send(kChannel, out_.data() + at, out_.size() - at, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent < 0) {
                // No one hears the run any more: it stops.
                gone_ = true;
                stop_.Request();
                break;
            }
            at += static_cast<std::size_t>(sent);
        }
        out_.clear();
    }

    StopSignal& stop_;
    std::string out_;
    bool gone_ = false;
};

}  // namespace

int main() {
    ::signal(SIGPIPE, SIG_IGN);
    // The caller's locale, then the script.
    std::string locale, text;
    for (std::string* part : {&locale, &text}) {
        char prefix[8];
        if (!ReadAll(prefix, sizeof prefix))
            return 3;
        part->resize(ReadLengthPrefix(prefix));
        if (!ReadAll(part->data(), part->size()))
            return 3;
    }
    std::setlocale(LC_ALL, locale.c_str());

    // Lives as long as the process: the listening thread is never joined.
    auto* stop = new StopSignal;
    std::thread([stop] {
        for (;;) {
            char byte = 0;
            const ssize_t got = ::read(kChannel, &byte, 1);
            if (got < 0 && errno == EINTR)
                continue;
            stop->Request();
            if (got <= 0)
                return;  // the library has gone
        }
    }).detach();

    ChannelReporter reporter(*stop);
    int errors = 0;
    try {
        errors = RunScript(
            text, reporter, [] { return MakeFirebirdSession(); }, stop);
    } catch (const std::exception& e) {
        reporter.Error(std::string("Internal engine failure: ") + e.what(), "");
        ++errors;
    }
    reporter.Done(errors);
    ShutdownFirebirdClient();
    ::_exit(0);
}
