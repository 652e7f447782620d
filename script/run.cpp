#include "run.h"

#include <optional>

#include "base/errors.h"
#include "base/platform.h"
#include "base/scope_exit.h"
#include "base/text_rules.h"
#include "engine_binding.h"
#include "packing/text_files.h"
#include "packing/zip_file.h"
#include "text/letter_case.h"
#include "text/script_encoding.h"
#include "text/win1251.h"
#include "unfinished_protocol.h"

namespace tallo::script {

using cp1251::operator""_cp;

const char* const kVersionFileName = "DBVersion.out";
const char* const kVersionQuery =
    "output 'DBVersion.out' delimeter #9; select Version from db_version output; COMMIT WORK;";

std::string ConnectHeader(const std::string& database, const std::string& user, const std::string& password) {
    return "SET NAMES WIN1251; CONNECT " + Q(database) + " USER " + Q(user) + " PASSWORD " + Q(password) +
           "; ";
}

std::string SuccessText() {
    return "Скрипт выполнен успешно!"_cp;
}

std::string FailureText() {
    return "Скрипт выполнен в ошибками!!!"_cp + "\r\n" +
           "Рекомендуется восстановить базу из резервной копии"_cp;
}

std::string NoEngineText() {
    return "Библиотека скриптов IBEScript.dll не загружена: скрипт не выполнен"_cp;
}

bool IsPackedScript(const std::string& script_name) {
    return ascii::EqualNoCase(ExtensionOf(script_name), ".zql");
}

std::string ProtocolFileFor(const std::string& script_name) {
    return FolderPart(script_name) + (IsPackedScript(script_name) ? "Result.Zxt" : "Result.txt");
}

std::size_t LineOfFirstNul(const std::string& text) {
    const std::size_t nul = text.find('\0');
    if (nul == std::string::npos)
        return 0;
    std::size_t line = 1;
    for (std::size_t i = 0; i < nul; ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= nul || text[i + 1] != '\n')))
            ++line;
    }
    return line;
}

std::string ToConnectionText(std::string& text, const std::string& file_name) {
    using namespace script_encoding;
    const Encoding encoding = Detect(text);
    if (encoding == Encoding::Windows1251)
        return {};
    std::string utf8 = Utf8Text(text, encoding, platform::FileNameText(file_name));
    const std::string read_as = std::string("read as ") + NameOf(encoding);
    // A script that sets its own character set (SET NAMES UTF8 before its
    // CONNECT, as isql scripts do) is handed over as its author wrote it.
    if (SetsOwnCharacterSet(utf8)) {
        text = std::move(utf8);
        return encoding == Encoding::Utf8 ? std::string() : read_as + ", converted to UTF-8";
    }
    text = ToWindows1251(utf8, platform::FileNameText(file_name));
    return read_as + ", converted to Windows-1251";
}

std::string LoadScript(WindowServices& window, std::string& script_text) {
    script_text.clear();
    std::string name = window.Text(Field::eScript);
    if (!platform::FileExists(name))
        return {};
    std::string text = IsPackedScript(name) ? UnpackFileToText(name) : ReadTextFile(name);
    // UTF-16 text holds NUL bytes of its own: the check follows decoding.
    std::string read_as = ToConnectionText(text, name);
    // The engine takes the text up to its first NUL byte; the rest of the
    // script would silently not run.
    if (std::size_t line = LineOfFirstNul(text); line != 0)
        throw ScriptRefused(name, line);
    script_text = std::move(text);
    return read_as;
}

bool SavePackedProtocol(WindowServices& window, const std::string& text, const std::string& name,
                        const std::string& like) {
    for (;;) {
        try {
            PackTextToFile(text, name, like);
            return true;
        } catch (const CreateFileFailure&) {
            if (!window.AskErrorYesNo(ProtocolRetryQuestion(name)))
                return false;
        }
    }
}

void aExecScriptExecute(WindowServices& window, EngineBinding& engine, std::string& script_text) {
    // While the engine works, the window keeps processing messages; a command
    // started then is held back (the engine still reads script_text).
    if (EngineBusy())
        return;
    RunState& state = TheRunState();
    state.ScriptFailed = false;
    state.ProtocolLines.clear();
    state.ScriptMessages.clear();
    state.ScriptReadAs.clear();

    state.ScriptReadAs = LoadScript(window, script_text);
    if (script_text.empty())
        return;
    if (!state.ScriptReadAs.empty())
        window.SetStatus("Script " + state.ScriptReadAs);
    UnfinishedProtocol unfinished(window.Text(Field::eScript));
    if (!unfinished.Interrupted().empty())
        window.ShowInformation(InterruptedRunNotice(unfinished.Interrupted()));
    script_text.insert(
        0, ConnectHeader(window.Text(Field::eDB), window.Text(Field::eUserName), window.Text(Field::ePassw)));

    window.SetWindowEnabled(false);
    window.SetCursorValue(kCursorSqlWait);
    {
        SetProtocolSink(&unfinished);
        ScopeExit restore([&window] {
            SetProtocolSink(nullptr);
            window.SetWindowEnabled(true);
            window.SetCursorValue(kCursorDefault);
        });
        // A run that reaches no engine executed nothing: it must not be
        // reported as a success.
        if (!ExecProc(window, engine.entry, script_text))
            OnEngineError(NoEngineText().c_str(), "");
    }

    // The outcome is told even when the protocol cannot be saved; that
    // failure follows it.
    std::optional<ProtocolNotSaved> save_failure;
    try {
        std::string name = window.Text(Field::eScript);
        std::string text = ProtocolText();
        bool saved = IsPackedScript(name) ? SavePackedProtocol(window, text, ProtocolFileFor(name), name)
                                          : WriteProtocolFile(window, text, ProtocolFileFor(name), name);
        // Unsaved, the unfinished protocol is the run's only record: it stays.
        if (saved)
            unfinished.Finish();
    } catch (const Failure& e) {
        save_failure.emplace(e.message());
    }

    std::string message = state.ScriptFailed ? FailureText() + state.ScriptMessages : SuccessText();
    window.SetStatus(message);
    window.ShowInformation(message);
    if (save_failure)
        throw *save_failure;
}

void DBVersionBitBtnClick(WindowServices& window, EngineBinding& engine, std::string& script_text) {
    if (EngineBusy())
        return;
    script_text = kVersionQuery;
    script_text.insert(
        0, ConnectHeader(window.Text(Field::eDB), window.Text(Field::eUserName), window.Text(Field::ePassw)));
    std::string version;
    try {
        ExecProc(window, engine.entry, script_text);
        if (platform::FileExists(kVersionFileName)) {
            version = ReadTextFile(kVersionFileName);
            platform::DeleteFile(kVersionFileName);
        }
    } catch (...) {
        // The query answers in the status line only; whatever went wrong, the
        // operator sees that no version could be read.
    }
    window.SetStatus(version.empty() ? "Версию БД получить не удалось"_cp : "Версия БД: "_cp + version);
}

}  // namespace tallo::script
