// The exported entries of the engine library. Every report goes to the
// caller's callbacks on the calling thread; no C++ exception leaves a call.
// The script runs in the worker process (worker/host.h); with
// TALLO_ENGINE_WORKER=0 in the environment (for the benchmarks and tests that
// compare the two) it runs inside the caller's process instead.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <string>

#include "engine/failure.h"
#include "engine/interpreter.h"
#include "engine/session.h"
#include "engine/worker/host.h"
#include "ibescript.h"

namespace {

class CallbackReporter : public tallo::engine::Reporter {
  public:
    CallbackReporter(TalloEngineCallback on_error, TalloEngineCallback on_status,
                     TalloEngineCallback on_statement)
        : on_error_(on_error), on_status_(on_status), on_statement_(on_statement) {}

    void Error(const std::string& message, const std::string& where) override {
        ++errors_;
        if (on_error_ != nullptr)
            on_error_(message.c_str(), where.c_str());
    }
    void Status(const std::string& text) override {
        if (on_status_ != nullptr)
            on_status_("", text.c_str());
    }
    void Statement(const std::string& text) override {
        if (on_statement_ != nullptr)
            on_statement_(text.c_str(), "");
    }
    std::int32_t errors() const {
        return errors_ > static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max())
                   ? std::numeric_limits<std::int32_t>::max()
                   : static_cast<std::int32_t>(errors_);
    }

  private:
    TalloEngineCallback on_error_;
    TalloEngineCallback on_status_;
    TalloEngineCallback on_statement_;
    std::int64_t errors_ = 0;
};

bool InProcess() {
    const char* mode = std::getenv("TALLO_ENGINE_WORKER");
    return mode != nullptr && std::strcmp(mode, "0") == 0;
}

// Frees the engine for the next call however this one ends.
struct CallClaim {
    ~CallClaim() { tallo::engine::worker::EndCall(); }
};

// The folder SetScriptFolder named last; each call takes it as it starts.
std::mutex g_script_folder_mutex;
std::string g_script_folder;

std::string ScriptFolder() {
    std::lock_guard<std::mutex> lock(g_script_folder_mutex);
    return g_script_folder;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::int32_t TALLO_STDCALL
ExecScriptText(const char* text, TalloEngineCallback on_error, TalloEngineCallback on_status,
               TalloEngineCallback on_statement) {
    namespace worker = tallo::engine::worker;
    CallbackReporter reporter(on_error, on_status, on_statement);
    if (!worker::BeginCall()) {
        reporter.Error("The script engine is already running a script", "");
        return reporter.errors();
    }
    CallClaim claim;
    try {
        const char* script = text != nullptr ? text : "";
        const std::string folder = ScriptFolder();
        if (InProcess()) {
            tallo::engine::StopSignal stop;
            worker::StopRelay relay(stop);
            tallo::engine::RunScript(
                script, reporter, [] { return tallo::engine::MakeFirebirdSession(); }, &stop, folder);
        } else {
            try {
                return worker::RunInWorker(script, folder, {on_error, on_status, on_statement});
            } catch (const tallo::engine::EngineFailure& e) {
                reporter.Error(e.what(), "Before the first statement");
            }
        }
    } catch (const std::exception& e) {
        try {
            reporter.Error(std::string("Internal engine failure: ") + e.what(), "");
        } catch (...) {
        }
    } catch (...) {
        try {
            reporter.Error("Internal engine failure", "");
        } catch (...) {
        }
    }
    return reporter.errors();
}

extern "C" __attribute__((visibility("default"))) std::int32_t TALLO_STDCALL CancelScriptText() {
    return tallo::engine::worker::RequestStop();
}

extern "C" __attribute__((visibility("default"))) void TALLO_STDCALL SetScriptFolder(const char* folder) {
    try {
        std::lock_guard<std::mutex> lock(g_script_folder_mutex);
        try {
            g_script_folder = folder != nullptr ? folder : "";
        } catch (...) {
            g_script_folder.clear();  // no memory for the name: the current directory
        }
    } catch (...) {
    }
}
