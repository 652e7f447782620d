// The call state on POSIX: one engine call at a time, and a stop request
// that a signal handler may make (an atomic word and a pipe write).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <thread>

#include "engine/failure.h"
#include "engine/worker/host.h"
#include "engine/worker/host_posix.h"

namespace tallo::engine::worker {

namespace {

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

}  // namespace

bool StopAsked() {
    return (g_call.load(std::memory_order_acquire) & 2u) != 0;
}

void DrainWakePipe() {
    char bytes[64];
    while (g_wake[0] >= 0 && ::read(g_wake[0], bytes, sizeof bytes) > 0) {
    }
}

int WakeDescriptor() {
    return g_wake[0];
}

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
        throw EngineFailure("Cannot watch for a stop request: " + SystemText(errno));
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

}  // namespace tallo::engine::worker
