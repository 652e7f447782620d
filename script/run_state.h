// What the run logic holds between calls: the engine as it was loaded, and the
// run state the engine's callbacks fill and the run command reads.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/platform.h"
#include "ibescript.h"
#include "script/protocol_list.h"

namespace tallo {

// The engine as its holder keeps it (the main window from FormCreate to
// FormDestroy, tallo-run for its runs).
struct EngineBinding {
    platform::Library library;              // EngineLibrary
    TalloExecScriptTextFn entry = nullptr;  // ExecScriptText; null when not found
    // CancelScriptText, looked up beside the entry; null for an engine
    // without it (its runs cannot be stopped).
    TalloCancelScriptTextFn cancel = nullptr;
    // SetScriptFolder, looked up beside the entry; null for an engine
    // without it (it takes relative INPUT names from the current directory).
    TalloSetScriptFolderFn script_folder = nullptr;
};

// File name of the engine library, looked for in the current directory.
inline constexpr const char* kEngineFileName = TALLO_ENGINE_FILE_NAME;
// Name of the engine's entry.
inline constexpr const char* kEngineEntryName = TALLO_ENGINE_ENTRY_NAME;
// Name of the engine's optional stop request.
inline constexpr const char* kEngineCancelName = TALLO_ENGINE_CANCEL_NAME;
// Name of the engine's optional setting of the script's folder.
inline constexpr const char* kEngineScriptFolderName = TALLO_ENGINE_SCRIPT_FOLDER_NAME;

// The run state of the process, shared by the run command and the engine's
// callbacks.
struct RunState {
    script::ProtocolList ProtocolLines;
    bool ScriptFailed = false;
    std::string ScriptMessages;
    // How the script file was read when it was not Windows-1251 text (e.g.
    // "read as UTF-8, converted to Windows-1251"); empty otherwise.
    std::string ScriptReadAs;
    // The engine's errors as its error callback gave them (text, place), and
    // the texts of its "MSG:" errors one by one.
    std::vector<std::pair<std::string, std::string>> Errors;
    std::vector<std::string> Messages;
};

// The process's run state: created empty at unit start-up, lives until the
// process ends.
RunState& TheRunState();

}  // namespace tallo
