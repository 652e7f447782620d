#include "script/run.h"

#include "script/engine_binding.h"
#include "script/unfinished_protocol.h"
#include "text/win1251.h"

namespace tallo::script {

using cp1251::operator""_cp;

RunRequest RequestFrom(const WindowServices& window) {
    return {window.Text(Field::eDB), window.Text(Field::eUserName), window.Text(Field::ePassw),
            window.Text(Field::eScript)};
}

void WindowRunView::RunStarts(const std::string& interrupted) {
    if (!interrupted.empty())
        window_.ShowInformation(InterruptedRunNotice(interrupted));
    window_.SetWindowEnabled(false);
    window_.SetCursorValue(kCursorSqlWait);
}

void WindowRunView::RunEnds() {
    window_.SetWindowEnabled(true);
    window_.SetCursorValue(kCursorDefault);
}

void aExecScriptExecute(WindowServices& window, EngineBinding& engine, std::string& script_text) {
    if (EngineBusy())
        return;
    WindowRunView view(window);
    const RunOutcome outcome = RunScript(RequestFrom(window), engine, script_text, view);
    if (outcome.result == RunResult::NotRun)
        return;
    const std::string message = OutcomeText(outcome);
    window.SetStatus(message);
    window.ShowInformation(message);
    // The outcome is told even when the protocol cannot be saved; that
    // failure follows it.
    if (outcome.protocol.result == ProtocolResult::Failed)
        throw ProtocolNotSaved(outcome.protocol.failure);
}

std::string StopScriptQuestion() {
    return "Прервать выполнение скрипта?"_cp;
}

void StopScriptRequest(WindowServices& window, const EngineBinding& engine) {
    if (engine.cancel == nullptr || !EngineBusy())
        return;
    if (window.AskErrorYesNo(StopScriptQuestion()))
        engine.cancel();
}

void DBVersionBitBtnClick(WindowServices& window, EngineBinding& engine, std::string& script_text) {
    if (EngineBusy())
        return;
    WindowRunView view(window);
    const VersionOutcome outcome = ReadVersion(RequestFrom(window), engine.entry, script_text, view);
    window.SetStatus(outcome.version.empty() ? NoVersionText() : "Версия БД: "_cp + outcome.version);
}

}  // namespace tallo::script
