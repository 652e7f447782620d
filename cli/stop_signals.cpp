#include "cli/stop_signals.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <csignal>

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

void SetAction(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

// Everything here is async-signal-safe: the engine's stop request only sets
// a flag and writes to a pipe.
extern "C" void OnStopSignal(int signal) {
    const int saved_errno = errno;
    if (g_signal == 0)
        g_signal = signal;
    // The next one, of either kind, ends the process at once.
    SetAction(SIG_DFL);
    AskEngine();
    errno = saved_errno;
}

}  // namespace

void HandleStopSignals(void (*handler)(int)) {
    SetAction(handler);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    ::pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
}

void StopRunsOnSignals(TalloCancelScriptTextFn cancel) {
    g_cancel = cancel;
    HandleStopSignals(cancel != nullptr ? OnStopSignal : SIG_DFL);
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
