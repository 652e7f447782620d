// Start-up and end of the main window's own logic: reading the remembered
// database, loading the script engine, deciding whether the run command is
// available, and releasing the engine at the end.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/base/platform.h"
#include "app/base/window_services.h"
#include "ibescript.h"

namespace tallo {

// The engine as the main window holds it, from FormCreate to FormDestroy.
struct EngineBinding {
    platform::Library library;              // EngineLibrary
    TalloExecScriptTextFn entry = nullptr;  // ExecScriptText; null when not found
};

// File name of the engine library, looked for in the current directory.
inline constexpr const char* kEngineFileName = TALLO_ENGINE_FILE_NAME;
// Name of the engine's entry.
inline constexpr const char* kEngineEntryName = TALLO_ENGINE_ENTRY_NAME;

// Window creation: disables the run command, reads "SelectedDatabase" and
// "Database" of "System" from the settings file into eDBName and eDB, loads
// "IBEScript.dll" when that file is in the current directory, looks
// up "ExecScriptText", and enables the run command exactly when the entry was
// found and eDB is not empty. A failure (the settings file exists but cannot
// be opened) leaves here with the run command disabled; the caller shows it
// in the standard error box.
void FormCreate(WindowServices& window, EngineBinding& engine);
// The same with the settings file's full path given.
void FormCreate(WindowServices& window, EngineBinding& engine, const std::string& settings_path);
// The same with the executable's folder given: when "IBEScript.dll" exists in
// the current directory, the library is loaded as LoadLibraryA loads that
// bare name, from the executable's folder when it is there, else from the
// current directory.
void FormCreate(WindowServices& window, EngineBinding& engine, const std::string& settings_path,
                const std::string& executable_folder);

// Window destruction: releases the engine library.
void FormDestroy(EngineBinding& engine);

// The run state of the process, shared by the run command and the engine's
// callbacks.
struct RunState {
    std::vector<std::string> ProtocolLines;
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
