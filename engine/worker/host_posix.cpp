// The library's side of a run in the worker on POSIX: poll for the
// worker's wake-ups and end, the ring's reports handed to the callbacks,
// the stop request passed on, and the status line's clock.
// (A Windows build fills host.h with CreateProcess, a pipe, a file mapping
// and an event.)
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "engine/failure.h"
#include "engine/script.h"
#include "engine/worker/channel.h"
#include "engine/worker/host.h"
#include "engine/worker/host_posix.h"

namespace tallo::engine::worker {

namespace {

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
        text_ = CutAtNul(text);
        char* folder = ::getcwd(nullptr, 0);
        if (folder == nullptr)
            throw EngineFailure("Cannot tell the current folder: " + SystemText(errno));
        std::string head(1, kRequestByte);
        auto add = [&head](std::string_view part) { head.append(LengthPrefix(part.size())).append(part); };
        add(folder);
        std::free(folder);
        const char* locale = std::setlocale(LC_ALL, nullptr);
        add(locale != nullptr ? locale : "C");
        add(EnvironmentBlock());
        add(script_folder);
        head += LengthPrefix(text_.size());
        Send(head);
    }

    // The worker died, was killed or broke the reports: it cannot take
    // another call.
    bool Lost() const { return !done_; }

    std::int32_t Run() {
        bool open = true;
        while (open && !done_) {
            pollfd fds[2] = {{channel_, POLLIN, 0}, {WakeDescriptor(), POLLIN, 0}};
            const int count = WakeDescriptor() >= 0 ? 2 : 1;
            const int ready = ::poll(fds, static_cast<nfds_t>(count), TimeoutMs());
            if (ready < 0 && errno != EINTR)
                throw EngineFailure("Cannot wait for the engine's worker: " + SystemText(errno));
            if (count == 2 && (fds[1].revents & POLLIN) != 0)
                DrainWakePipe();
            if (StopAsked() && !stop_sent_)
                AskToStop();
            // The channel brings wake-ups, requests for the script's bytes,
            // and the worker's end.
            if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
                open = TakeChannel();
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
    // Reads what the channel holds and answers the requests for pieces of
    // the script; false once the worker has closed it.
    bool TakeChannel() {
        char bytes[4096];
        const ssize_t got = ::recv(channel_, bytes, sizeof bytes, 0);
        if (got < 0)
            return errno == EINTR || errno == EAGAIN;
        if (got == 0)
            return false;
        from_worker_.append(bytes, static_cast<std::size_t>(got));
        std::size_t at = 0;
        while (at < from_worker_.size()) {
            if (from_worker_[at] != kFetchByte) {
                ++at;  // a wake-up
                continue;
            }
            if (from_worker_.size() - at < kFetchBytes)
                break;
            char offset[8], length[8];
            from_worker_.copy(offset, 8, at + 1);
            from_worker_.copy(length, 8, at + 9);
            at += kFetchBytes;
            const std::uint64_t from = std::min<std::uint64_t>(ReadLengthPrefix(offset), text_.size());
            const std::string_view piece =
                text_.substr(from, std::min<std::uint64_t>(ReadLengthPrefix(length), text_.size() - from));
            std::string head(1, kPieceByte);
            head += LengthPrefix(piece.size());
            if (Send(head))
                Send(piece);
        }
        from_worker_.erase(0, at);
        return true;
    }

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
    std::string_view text_;    // the script, which the caller holds through the call
    std::string from_worker_;  // the channel's bytes not taken yet
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

std::int32_t RunInWorker(std::string_view text, const std::string& script_folder,
                         const Callbacks& callbacks) {
    if (ModuleFolder()[0] == '\0')
        throw EngineFailure("Cannot find the folder of the script engine, where its worker program lies");
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
