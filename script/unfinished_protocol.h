// The protocol of a run while the run goes. It grows on disk beside the
// script with every entry, in a file whose name says that it is unfinished,
// so a run that is killed or crashes midway leaves it behind; a run that ends
// saves its protocol as "Result.txt" or "Result.Zxt" and removes it. While it
// grows it is held locked, which keeps a second run in the same folder from
// starting. Entries reach the file at most kFlushInterval after they were
// made (by a thread of its own; a system call per entry would slow a run of
// small statements noticeably), so a run killed midway leaves every entry
// made until shortly before, the statement it was running included. The
// entries not yet written stay few: past kWakeBytes the thread writes at
// once, and past kHeldBytes the run waits until it has taken them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "base/errors.h"
#include "base/platform.h"
#include "script/engine_binding.h"

namespace tallo::script {

inline constexpr const char* kUnfinishedProtocolName = "Result.unfinished.txt";
// Where the unfinished protocol of an interrupted run is kept when the next
// run in the folder starts.
inline constexpr const char* kInterruptedProtocolName = "Result.interrupted.txt";

// A run refused before it started: another run in the script's folder is
// writing its protocol.
class RunRefused : public Failure {
  public:
    explicit RunRefused(const std::string& unfinished_name);
};

// What the operator is told before a run when the last run in the folder was
// interrupted.
std::string InterruptedRunNotice(const std::string& kept_name);

class UnfinishedProtocol : public ProtocolSink {
  public:
    // Opens and locks the unfinished protocol beside the script. RunRefused
    // when another run holds it. A protocol an interrupted run left there is
    // first kept as "Result.interrupted.txt" (replacing an older one; a
    // failure to keep it is thrown and nothing runs). When the file cannot be
    // made at all (a folder without write access), the run goes without it.
    // With a tag (one database of several runs of the script), the files are
    // "Result.<tag>.unfinished.txt" and "Result.<tag>.interrupted.txt", so
    // runs for different databases in one folder do not refuse each other.
    explicit UnfinishedProtocol(const std::string& script_name, const std::string& tag = {});
    UnfinishedProtocol(const UnfinishedProtocol&) = delete;
    UnfinishedProtocol& operator=(const UnfinishedProtocol&) = delete;
    // Writes what is pending and closes; the file stays unless Finish was
    // called.
    ~UnfinishedProtocol() override;

    // The name the interrupted run's protocol is now kept under; empty when
    // the last run in the folder ended as it should.
    const std::string& Interrupted() const { return interrupted_; }

    // Appends the entry and CR LF. A write that fails is not a failure of the
    // run: the protocol saved at the end is complete either way.
    void Append(const std::string& entry) noexcept override;

    static constexpr std::chrono::milliseconds kFlushInterval{100};
    static constexpr std::size_t kWakeBytes = std::size_t(256) << 10;
    static constexpr std::size_t kHeldBytes = std::size_t(1) << 20;

    // The run's protocol has been saved: the unfinished one is removed.
    void Finish();

  private:
    void StartFlushing();
    void StopFlushing() noexcept;
    void WritePending(std::unique_lock<std::mutex>& lock) noexcept;  // lock holds mutex_

    std::string name_;
    std::string interrupted_;
    platform::File file_;
    bool broken_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable taken_;  // the pending entries went to be written
    std::string pending_;
    std::string writing_;  // the lines being written, outside the lock
    bool stopping_ = false;
    std::thread flusher_;
};

}  // namespace tallo::script
