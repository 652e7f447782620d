#include "script/engine_binding.h"

#include <cstring>

#include "app/base/errors.h"
#include "app/base/scope_exit.h"
#include "script/run_state.h"
#include "text/letter_case.h"
#include "text/win1251.h"

namespace tallo::script {

namespace {

RunView* g_view = nullptr;  // the view of the engine call under way
bool g_busy = false;
ProtocolSink* g_sink = nullptr;  // the unfinished protocol of the run under way

void AddProtocolEntry(std::string entry) {
    if (g_sink)
        g_sink->Append(entry);
    TheRunState().ProtocolLines.push_back(std::move(entry));
}

std::string Arg(const char* text) {
    return text ? std::string(text) : std::string();
}

bool StartsWithMsgPrefix(const char* text) {
    return text != nullptr && ascii::StartsWithNoCase(text, "msg:");
}

}  // namespace

bool ExecProc(RunView& view, TalloExecScriptTextFn entry, const std::string& script_text) {
    if (entry == nullptr)
        return false;
    if (g_busy)
        throw Failure(cp1251::FromUtf8("Скрипт ещё выполняется"));
    RunView* previous = g_view;
    g_view = &view;
    g_busy = true;
    ScopeExit restore([&] {
        g_view = previous;
        g_busy = false;
    });
    entry(script_text.c_str(), &OnEngineError, &OnEngineStatus, &OnEngineStatement);
    return true;
}

bool EngineBusy() {
    return g_busy;
}

std::int32_t TALLO_STDCALL OnEngineError(const char* first, const char* second) {
    RunState& state = TheRunState();
    state.ScriptFailed = true;
    state.Errors.emplace_back(Arg(first), Arg(second));
    AddProtocolEntry("Error: " + Arg(first) + "\r\n" + Arg(second));
    if (StartsWithMsgPrefix(first)) {
        state.ScriptMessages += "\r\n";
        state.ScriptMessages += first + 4;
        state.Messages.emplace_back(first + 4);
    }
    return 0;
}

std::int32_t TALLO_STDCALL OnEngineStatus(const char* /*first*/, const char* second) {
    if (g_view) {
        g_view->ShowStatus(Arg(second));
        g_view->ProcessMessages();
    }
    return 0;
}

std::int32_t TALLO_STDCALL OnEngineStatement(const char* first, const char* /*second*/) {
    if (first == nullptr || std::strstr(first, "CONNECT") == nullptr) {
        AddProtocolEntry(Arg(first));
    }
    return 0;
}

void SetProtocolSink(ProtocolSink* sink) {
    g_sink = sink;
}

std::string ProtocolText() {
    const auto& lines = TheRunState().ProtocolLines;
    std::size_t size = 0;
    for (const auto& line : lines)
        size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

}  // namespace tallo::script
