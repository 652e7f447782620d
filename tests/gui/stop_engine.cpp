// A stand-in engine for stopping a run: it reports a status text every few
// milliseconds for about half a second and then ends cleanly, unless
// CancelScriptText (exported when built with TALLO_STOP_ENGINE_CANCEL) has
// asked it to stop, when it reports the stop as an error and ends at once.
#include <unistd.h>

#include <atomic>

#include "ibescript.h"

namespace {
std::atomic<bool> g_running{false};
std::atomic<bool> g_stop{false};
}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t TALLO_STDCALL
ExecScriptText(const char* /*text*/, TalloEngineCallback on_error, TalloEngineCallback on_status,
               TalloEngineCallback on_statement) {
    g_stop = false;
    g_running = true;
    for (int i = 0; i < 100; ++i) {
        if (g_stop) {
            on_error("The operator stopped the script at statement 1, line 1", "At line 1");
            g_running = false;
            return 1;
        }
        on_status("", "Statement 1 of 1, line 1: 00:00");
        ::usleep(5000);
    }
    on_statement("EXECUTE BLOCK AS BEGIN END", "");
    g_running = false;
    return 0;
}

#ifdef TALLO_STOP_ENGINE_CANCEL
extern "C" __attribute__((visibility("default"))) int32_t TALLO_STDCALL CancelScriptText(void) {
    if (!g_running)
        return 0;
    g_stop = true;
    return 1;
}
#endif
