// The library's side of a run in the worker process. The worker program,
// beside the library, is started at the first call and runs the calls that
// follow too (Firebird is loaded once); one that died, was killed or was
// started under other FIREBIRD* settings is replaced. Each call's script
// goes through the channel (never on a command line or in an environment),
// with the caller's current folder, locale and environment and the folder
// of the script file; the reports
// come back through a ring of shared memory read every kRingInterval, and
// reach the caller's callbacks on the calling thread, in order. While a
// statement runs the status callback hears from the run at least every
// kTickInterval. A stop request cancels the running statement; a worker
// that has not finished the run kStopGrace after it is killed. A worker
// that dies is one error, and the call returns normally.
//
// The call state, the stop request and the worker are the process's: one
// engine call at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/interpreter.h"
#include "ibescript.h"

namespace tallo::engine::worker {

inline constexpr const char* kWorkerProgramName = "tallo-engine-worker";
inline constexpr std::chrono::milliseconds kTickInterval{200};
// The ring of reports is read at least this often.
inline constexpr std::chrono::milliseconds kRingInterval{20};
inline constexpr std::chrono::seconds kStopGrace{5};

struct Callbacks {
    TalloEngineCallback on_error = nullptr;
    TalloEngineCallback on_status = nullptr;
    TalloEngineCallback on_statement = nullptr;
};

// Claims the engine for one call; false while another call is under way.
bool BeginCall();
void EndCall();
// Asks the call under way to stop; answers 1 when there was one, 0 when
// not. Async-signal-safe.
std::int32_t RequestStop() noexcept;

// Passes the stop request of the call under way on to `stop` from a thread
// of its own, for as long as it lives (a run inside the library's process).
class StopRelay {
  public:
    explicit StopRelay(StopSignal& stop);
    ~StopRelay();
    StopRelay(const StopRelay&) = delete;
    StopRelay& operator=(const StopRelay&) = delete;

  private:
    struct Thread;
    Thread* thread_;
};

// The worker program: kWorkerProgramName in the folder of the library (or
// program) that holds this code, as it was when it was loaded.
std::string WorkerProgram();

// Runs the text in a worker process, its relative INPUT names taken from
// script_folder ("" for the current directory); answers the number of errors
// reported. Throws EngineFailure only for what keeps the run from starting
// (the worker cannot be started), with the message to report.
std::int32_t RunInWorker(std::string_view text, const std::string& script_folder, const Callbacks& callbacks);

// The status text of a statement that has run for `elapsed`.
std::string RunningText(std::uint64_t index, std::uint64_t total, std::uint32_t line,
                        std::chrono::steady_clock::duration elapsed);

}  // namespace tallo::engine::worker
