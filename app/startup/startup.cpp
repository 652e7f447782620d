#include "app/startup/startup.h"

#include "app/settings/settings.h"

namespace tallo {

void FormCreate(WindowServices& window, EngineBinding& engine) {
    FormCreate(window, engine, SettingsPath());
}

void FormCreate(WindowServices& window, EngineBinding& engine, const std::string& settings_path) {
    FormCreate(window, engine, settings_path, platform::FolderOf(platform::ExecutablePath()));
}

void FormCreate(WindowServices& window, EngineBinding& engine, const std::string& settings_path,
                const std::string& executable_folder) {
    engine.entry = nullptr;
    engine.cancel = nullptr;
    engine.script_folder = nullptr;
    engine.library.Release();
    // Until the engine's entry is known, there is nothing to run.
    window.SetExecScriptEnabled(false);

    {
        TSettingsReader settings(settings_path);
        window.SetText(Field::eDBName, settings.GetValue("System", "SelectedDatabase", ""));
        window.SetText(Field::eDB, settings.GetValue("System", "Database", ""));
    }

    if (platform::FileExists(kEngineFileName)) {
        engine.library = platform::Library::Load(kEngineFileName, executable_folder, nullptr);
        engine.entry = reinterpret_cast<TalloExecScriptTextFn>(engine.library.Symbol(kEngineEntryName));
        engine.cancel = reinterpret_cast<TalloCancelScriptTextFn>(engine.library.Symbol(kEngineCancelName));
        engine.script_folder =
            reinterpret_cast<TalloSetScriptFolderFn>(engine.library.Symbol(kEngineScriptFolderName));
    }

    window.SetExecScriptEnabled(engine.entry != nullptr && !window.Text(Field::eDB).empty());
}

void FormDestroy(EngineBinding& engine) {
    engine.entry = nullptr;
    engine.cancel = nullptr;
    engine.script_folder = nullptr;
    engine.library.Release();
}

}  // namespace tallo
