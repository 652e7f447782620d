// The window's script run command and version query (handlers of TForm1):
// the request from the window's fields, the outcome in its status line and
// boxes.
#pragma once

#include <string>

#include "script/run_state.h"
#include "script/script_run.h"
#include "script/window_services.h"

namespace tallo::script {

// The request of the window's fields eDB, eUserName, ePassw and eScript.
RunRequest RequestFrom(const WindowServices& window);

// The window's part of a run: the status line, message processing, the
// retry question as an error-type Yes/No box, and while the engine works the
// window disabled under the SQL-wait cursor; before that, the notice of an
// interrupted run in an information box.
class WindowRunView : public RunView {
  public:
    explicit WindowRunView(WindowServices& window) : window_(window) {}
    void ShowStatus(const std::string& text) override { window_.SetStatus(text); }
    void ProcessMessages() override { window_.ProcessMessages(); }
    bool RetryProtocol(const std::string& question) override { return window_.AskErrorYesNo(question); }
    void RunStarts(const std::string& interrupted) override;
    void RunEnds() override;

  private:
    WindowServices& window_;
};

// aExecScript: load, header, engine call with the window disabled and the
// SQL-wait cursor, protocol beside the script, outcome in the status line and
// the information box. The protocol grows beside the script while the engine
// works (UnfinishedProtocol): a second run in the same folder is refused with
// RunRefused before anything runs, and the protocol an interrupted run left
// there is kept and the operator told about it before the run starts. When
// the protocol cannot be saved, the outcome is still shown and the failure
// is thrown after it as ProtocolNotSaved.
void aExecScriptExecute(WindowServices& window, EngineBinding& engine, std::string& script_text);

// The operator asks to stop the script run under way (Escape or closing the
// window while the engine works). With an engine that can stop a run, the
// error-type question StopScriptQuestion(); Yes asks the engine to stop, and
// the run then ends as a failed run. With an engine that cannot, or when no
// engine call is under way, nothing is asked and the run goes on.
void StopScriptRequest(WindowServices& window, const EngineBinding& engine);
// "Прервать выполнение скрипта?"
std::string StopScriptQuestion();

// DBVersionBitBtn: the version query, its answer in the status line; every
// failure but running out of memory is absorbed.
void DBVersionBitBtnClick(WindowServices& window, EngineBinding& engine, std::string& script_text);

}  // namespace tallo::script
