// Start-up and end of the main window's own logic: reading the remembered
// database, loading the script engine, deciding whether the run command is
// available, and releasing the engine at the end.
#pragma once

#include <string>

#include "script/run_state.h"
#include "script/window_services.h"

namespace tallo {

// Window creation: disables the run command, reads "SelectedDatabase" and
// "Database" of "System" from the settings file into eDBName and eDB, loads
// "IBEScript.dll" when that file is in the current directory, looks
// up "ExecScriptText" (and beside it the optional "CancelScriptText" and
// "SetScriptFolder"), and enables the run command exactly when the entry was
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

}  // namespace tallo
