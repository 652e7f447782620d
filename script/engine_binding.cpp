#include "script/engine_binding.h"

#include <cstring>

#include "base/errors.h"
#include "script/run_state.h"
#include "text/letter_case.h"
#include "text/win1251.h"

namespace tallo::script {

namespace {

// The engine call under way, which the callbacks reach: installed by
// ExecProc for the duration of the call and removed on every way out.
class ActiveCall {
  public:
    ActiveCall(RunView& view, ProtocolSink* sink) : view_(view), sink_(sink) {
        if (current_ != nullptr)
            throw Failure(cp1251::FromUtf8("Скрипт ещё выполняется"));
        current_ = this;
    }
    ~ActiveCall() { current_ = nullptr; }
    ActiveCall(const ActiveCall&) = delete;
    ActiveCall& operator=(const ActiveCall&) = delete;

    // The call under way; null between calls.
    static ActiveCall* Current() { return current_; }
    RunView& View() const { return view_; }
    ProtocolSink* Sink() const { return sink_; }

  private:
    static inline ActiveCall* current_ = nullptr;
    RunView& view_;
    ProtocolSink* sink_;  // the unfinished protocol of the run; null for none
};

ProtocolSink* CurrentSink() {
    const ActiveCall* call = ActiveCall::Current();
    return call ? call->Sink() : nullptr;
}

void AddProtocolEntry(const std::string& entry, ProtocolSink* sink) {
    if (sink)
        sink->Append(entry);
    TheRunState().ProtocolLines.push_back(entry);
}

std::string Arg(const char* text) {
    return text ? std::string(text) : std::string();
}

bool StartsWithMsgPrefix(const char* text) {
    return text != nullptr && ascii::StartsWithNoCase(text, "msg:");
}

}  // namespace

bool ExecProc(RunView& view, TalloExecScriptTextFn entry, const std::string& script_text,
              ProtocolSink* sink) {
    if (entry == nullptr)
        return false;
    const ActiveCall call(view, sink);
    entry(script_text.c_str(), &OnEngineError, &OnEngineStatus, &OnEngineStatement);
    return true;
}

bool EngineBusy() {
    return ActiveCall::Current() != nullptr;
}

void RecordEngineError(const char* first, const char* second, ProtocolSink* sink) {
    RunState& state = TheRunState();
    state.ScriptFailed = true;
    state.Errors.emplace_back(Arg(first), Arg(second));
    AddProtocolEntry("Error: " + Arg(first) + "\r\n" + Arg(second), sink);
    if (StartsWithMsgPrefix(first)) {
        state.ScriptMessages += "\r\n";
        state.ScriptMessages += first + 4;
        state.Messages.emplace_back(first + 4);
    }
}

std::int32_t TALLO_STDCALL OnEngineError(const char* first, const char* second) {
    RecordEngineError(first, second, CurrentSink());
    return 0;
}

std::int32_t TALLO_STDCALL OnEngineStatus(const char* /*first*/, const char* second) {
    if (const ActiveCall* call = ActiveCall::Current()) {
        call->View().ShowStatus(Arg(second));
        call->View().ProcessMessages();
    }
    return 0;
}

std::int32_t TALLO_STDCALL OnEngineStatement(const char* first, const char* /*second*/) {
    if (first == nullptr || std::strstr(first, "CONNECT") == nullptr) {
        AddProtocolEntry(Arg(first), CurrentSink());
    }
    return 0;
}

std::string ProtocolText() {
    return TheRunState().ProtocolLines.Text();
}

}  // namespace tallo::script
