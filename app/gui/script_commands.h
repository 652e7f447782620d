// The window's two engine commands wired to the script logic: the script run
// and the version query, both handing ScriptText to the engine, and the
// operator's request to stop a script run through the engine. The program
// wires them this way; tests that drive the real window reuse it.
#pragma once

#include <string>

#include "app/gui/form1.h"
#include "script/run.h"
#include "script/run_state.h"

namespace tallo::gui {

inline void WireScriptCommands(TForm1Handlers& handlers, EngineBinding& engine, std::string& script_text) {
    handlers.aExecScriptExecute = [&engine, &script_text](TForm1& form) {
        script::aExecScriptExecute(form, engine, script_text);
    };
    handlers.DBVersionBitBtnClick = [&engine, &script_text](TForm1& form) {
        script::DBVersionBitBtnClick(form, engine, script_text);
    };
    handlers.StopScriptRequest = [&engine](TForm1& form) { script::StopScriptRequest(form, engine); };
}

}  // namespace tallo::gui
