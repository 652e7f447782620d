#include "cli/stop_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>

#include "base/platform.h"

namespace tallo::cli {
namespace {

std::atomic<TalloCancelScriptTextFn> g_cancel{nullptr};
volatile std::sig_atomic_t g_signal = 0;
// The engine answered that a call was under way and stops.
std::atomic<bool> g_stopping{false};

static_assert(std::atomic<TalloCancelScriptTextFn>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

void AskEngine() {
    const TalloCancelScriptTextFn cancel = g_cancel.load();
    if (cancel != nullptr && cancel() == 1)
        g_stopping = true;
}

// Everything here is async-signal-safe: the engine's stop request only sets
// a flag and writes to a pipe.
extern "C" void OnStopSignal(int signal) {
    const int saved_errno = errno;
    if (g_signal == 0)
        g_signal = signal;
    // The next one, of either kind, ends the process at once.
    platform::SetStopSignalAction(nullptr);
    AskEngine();
    errno = saved_errno;
}

}  // namespace

void HandleStopSignals(void (*handler)(int)) {
    platform::SetStopSignalAction(handler);
    platform::LetStopSignalsIn();
}

void StopRunsOnSignals(TalloCancelScriptTextFn cancel) {
    g_cancel = cancel;
    HandleStopSignals(cancel != nullptr ? OnStopSignal : nullptr);
}

int StopSignal() {
    return g_signal;
}

void PassStopToEngine() {
    if (g_signal != 0 && !g_stopping)
        AskEngine();
}

int StoppedExitCode(int signal) {
    return 128 + signal;
}

std::string SignalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        default:
            return "signal " + std::to_string(signal);
    }
}

}  // namespace tallo::cli
