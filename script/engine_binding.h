// The binding to the script engine: ExecProc and the three callbacks that
// fill the process-wide run state.
#pragma once

#include <cstdint>
#include <string>

#include "ibescript.h"
#include "script/script_run.h"

namespace tallo::script {

// Calls the engine entry with the text and the three callbacks and returns
// when it returns; does nothing when entry is null. During the call the
// status callback reaches `view` (the callbacks carry no context, so the view
// is held process-wide for the duration of the call). Answers whether the
// entry was called.
bool ExecProc(RunView& view, TalloExecScriptTextFn entry, const std::string& script_text);

// True while an engine call is under way (a second one must not start).
bool EngineBusy();

// The callbacks handed to the engine. They always answer 0.
std::int32_t TALLO_STDCALL OnEngineError(const char* first, const char* second);
std::int32_t TALLO_STDCALL OnEngineStatus(const char* first, const char* second);
std::int32_t TALLO_STDCALL OnEngineStatement(const char* first, const char* second);

// Receives every protocol entry as it is made, besides ProtocolLines.
class ProtocolSink {
  public:
    virtual ~ProtocolSink() = default;
    virtual void Append(const std::string& entry) noexcept = 0;
};
// The sink of the run under way; null for none.
void SetProtocolSink(ProtocolSink* sink);

// The protocol's text form: every entry followed by CR LF.
std::string ProtocolText();

}  // namespace tallo::script
