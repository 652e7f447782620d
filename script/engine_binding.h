// The binding to the script engine: ExecProc and the three callbacks that
// fill the process-wide run state.
#pragma once

#include <cstdint>
#include <string>

#include "ibescript.h"
#include "script/script_run.h"

namespace tallo::script {

// Receives every protocol entry as it is made, besides ProtocolLines.
class ProtocolSink {
  public:
    virtual ~ProtocolSink() = default;
    virtual void Append(const std::string& entry) noexcept = 0;
};

// Calls the engine entry with the text and the three callbacks and returns
// when it returns; does nothing when entry is null. The callbacks carry no
// context: for the duration of the call they reach the call's view (the
// status line) and sink (the unfinished protocol, when given) through the
// one active call ExecProc installs, which goes on every way out. Answers
// whether the entry was called; a call while another is under way throws.
bool ExecProc(RunView& view, TalloExecScriptTextFn entry, const std::string& script_text,
              ProtocolSink* sink = nullptr);

// True while an engine call is under way (a second one must not start).
bool EngineBusy();

// The callbacks handed to the engine. They always answer 0.
std::int32_t TALLO_STDCALL OnEngineError(const char* first, const char* second);
std::int32_t TALLO_STDCALL OnEngineStatus(const char* first, const char* second);
std::int32_t TALLO_STDCALL OnEngineStatement(const char* first, const char* second);

// What the error callback records, outside a call: the run state, and the
// sink when given (for a run that reached no engine).
void RecordEngineError(const char* first, const char* second, ProtocolSink* sink);

// The protocol's text form: every entry followed by CR LF.
std::string ProtocolText();

}  // namespace tallo::script
