#include "script/script_run.h"

#include <new>

#include "base/errors.h"
#include "base/platform.h"
#include "base/scope_exit.h"
#include "base/text_rules.h"
#include "packing/streams.h"
#include "packing/text_files.h"
#include "packing/zip_file.h"
#include "script/engine_binding.h"
#include "script/run_state.h"
#include "script/unfinished_protocol.h"
#include "text/letter_case.h"
#include "text/quoting.h"
#include "text/script_encoding.h"
#include "text/win1251.h"

namespace tallo::script {

using cp1251::operator""_cp;

namespace {

constexpr std::string_view kAtLine = "At line ";
constexpr std::string_view kOfFile = " of file \"";
constexpr std::string_view kSqlState = ", SQLSTATE ";
constexpr std::string_view kErrorEntry = "Error: ";

// The run state as the callbacks left it, put into the outcome.
void TakeRunState(RunOutcome& outcome) {
    const RunState& state = TheRunState();
    outcome.result = state.ScriptFailed ? RunResult::Failed : RunResult::Clean;
    outcome.messages = state.Messages;
    for (const auto& error : state.Errors)
        outcome.errors.push_back(EngineErrorFrom(error.first, error.second));
    outcome.statements = state.ProtocolLines.size() - outcome.errors.size();
}

void ClearRunState() {
    RunState& state = TheRunState();
    state = RunState{};
}

}  // namespace

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

std::string NoVersionText() {
    return "Версию БД получить не удалось"_cp;
}

std::string NoEngineText() {
    return "Библиотека скриптов IBEScript.dll не загружена: скрипт не выполнен"_cp;
}

bool IsPackedScript(const std::string& script_name) {
    return ascii::EqualNoCase(ExtensionOf(script_name), ".zql");
}

std::string ProtocolFileFor(const std::string& script_name, const std::string& tag) {
    const std::string stem = tag.empty() ? std::string("Result") : "Result." + tag;
    return FolderPart(script_name) + stem + (IsPackedScript(script_name) ? ".Zxt" : ".txt");
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

std::string LoadScript(const std::string& script_file, std::string& script_text, std::size_t header_room) {
    script_text.clear();
    const std::string& name = script_file;
    if (!platform::FileExists(name))
        return {};
    std::string text = IsPackedScript(name) ? UnpackFileToText(name, kMaxUnpackedScript, header_room)
                                            : ReadTextFile(name, header_room);
    // UTF-16 text holds NUL bytes of its own: the check follows decoding.
    // The connect header sets WIN1251 for every script.
    std::string read_as = script_encoding::ToConnectionText(text, "WIN1251", platform::FileNameText(name));
    // The engine takes the text up to its first NUL byte; the rest of the
    // script would silently not run.
    if (std::size_t line = LineOfFirstNul(text); line != 0)
        throw ScriptRefused(name, line);
    script_text = std::move(text);
    return read_as;
}

std::string OutcomeText(const RunOutcome& outcome) {
    return outcome.result == RunResult::Failed ? FailureText() + MessagesText(outcome.messages)
                                               : SuccessText();
}

EngineError EngineErrorFrom(const std::string& message, const std::string& where) {
    EngineError error{message, where, 0, {}, {}, {}};
    const std::size_t end = where.find("\r\n");
    std::string_view head = std::string_view(where).substr(0, end);
    if (end != std::string::npos)
        error.statement = where.substr(end + 2);
    if (head.substr(0, kAtLine.size()) != kAtLine)
        return error;
    head.remove_prefix(kAtLine.size());
    std::size_t digits = 0;
    while (digits < head.size() && head[digits] >= '0' && head[digits] <= '9')
        error.line = error.line * 10 + static_cast<std::size_t>(head[digits++] - '0');
    head.remove_prefix(digits);
    if (head.substr(0, kOfFile.size()) == kOfFile) {
        head.remove_prefix(kOfFile.size());
        const std::size_t quote = head.rfind('"');
        error.file = std::string(head.substr(0, quote));
        head.remove_prefix(quote == std::string_view::npos ? head.size() : quote + 1);
    }
    if (head.substr(0, kSqlState.size()) == kSqlState)
        error.sqlstate = std::string(head.substr(kSqlState.size()));
    return error;
}

std::string MessagesText(const std::vector<std::string>& messages) {
    std::string text;
    for (const auto& message : messages) {
        text += kCrLf;
        text += message;
    }
    return text;
}

std::string ProtocolRetryQuestion(const std::string& name) {
    // "Не удается создать файл протокола выполнения скрипта " + Q(name) + "."
    // CR LF "Попытаться еще раз?"
    return "\xCD\xE5 \xF3\xE4\xE0\xE5\xF2\xF1\xFF \xF1\xEE\xE7\xE4\xE0\xF2\xFC \xF4\xE0\xE9\xEB "
           "\xEF\xF0\xEE\xF2\xEE\xEA\xEE\xEB\xE0 \xE2\xFB\xEF\xEE\xEB\xED\xE5\xED\xE8\xFF "
           "\xF1\xEA\xF0\xE8\xEF\xF2\xE0 " +
           Q(platform::FileNameText(name)) + "." + kCrLf +
           "\xCF\xEE\xEF\xFB\xF2\xE0\xF2\xFC\xF1\xFF \xE5\xF9\xE5 \xF0\xE0\xE7?";
}

bool SaveProtocolFile(RunView& view, const std::string& text, const std::string& name,
                      const std::string& like, bool packed) {
    const auto whole = [&text] {
        return platform::PieceSource([&text, given = false](std::string_view* piece, int*) mutable {
            *piece = given ? std::string_view() : std::string_view(text);
            given = true;
            return true;
        });
    };
    return SaveProtocolFile(view, whole, name, like, packed);
}

bool SaveProtocolFile(RunView& view, const std::function<platform::PieceSource()>& source,
                      const std::string& name, const std::string& like, bool packed) {
    for (;;) {
        try {
            if (packed)
                PackPiecesToFile(source(), name, like);
            else
                SaveWholeFile(name, source(), like);
            return true;
        } catch (const CreateFileFailure&) {
            // The operator decides: try again, or go without a protocol file.
            if (!view.RetryProtocol(ProtocolRetryQuestion(name)))
                return false;
        }
    }
}

bool SavePackedProtocol(RunView& view, const std::string& text, const std::string& name,
                        const std::string& like) {
    return SaveProtocolFile(view, text, name, like, true);
}

RunOutcome RunScript(const RunRequest& request, const EngineBinding& engine, std::string& script_text,
                     RunView& view, const std::string& protocol_tag) {
    RunOutcome outcome;
    // While the engine works, the window keeps processing messages; a run
    // started then is held back (the engine still reads script_text).
    if (EngineBusy())
        return outcome;
    ClearRunState();
    const std::string header = ConnectHeader(request.database, request.user, request.password);
    outcome.read_as = LoadScript(request.script_file, script_text, header.size());
    TheRunState().ScriptReadAs = outcome.read_as;
    if (script_text.empty())
        return outcome;
    if (!outcome.read_as.empty())
        view.ShowStatus("Script " + outcome.read_as);
    UnfinishedProtocol unfinished(request.script_file, protocol_tag);
    outcome.interrupted = unfinished.Interrupted();
    script_text.insert(0, header);

    // The current directory is the caller's (the window's is its program's
    // folder), not the script's.
    const std::string script_folder = platform::FolderOf(platform::FullPath(request.script_file));

    view.RunStarts(outcome.interrupted);
    {
        ScopeExit restore([&view, &engine] {
            if (engine.script_folder != nullptr)
                engine.script_folder(nullptr);
            view.RunEnds();
        });
        const auto started = std::chrono::steady_clock::now();
        if (engine.script_folder != nullptr)
            engine.script_folder(script_folder.c_str());
        // A run that reaches no engine executed nothing: it must not be
        // reported as a success.
        if (!ExecProc(view, engine.entry, script_text, &unfinished))
            RecordEngineError(NoEngineText().c_str(), "", &unfinished);
        outcome.elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    }
    TakeRunState(outcome);

    // The outcome is told even when the protocol cannot be saved.
    const std::string name = ProtocolFileFor(request.script_file, protocol_tag);
    try {
        const auto& lines = TheRunState().ProtocolLines;
        if (SaveProtocolFile(
                view, [&lines] { return lines.Pieces(); }, name, request.script_file,
                IsPackedScript(request.script_file))) {
            outcome.protocol = {ProtocolResult::Saved, name, {}};
            // Unsaved, the unfinished protocol is the run's only record: it stays.
            unfinished.Finish();
        } else {
            outcome.protocol.result = ProtocolResult::Declined;
        }
    } catch (const Failure& e) {
        outcome.protocol = {ProtocolResult::Failed, {}, e.message()};
    }
    return outcome;
}

VersionOutcome ReadVersion(const RunRequest& request, TalloExecScriptTextFn entry, std::string& script_text,
                           RunView& view) {
    VersionOutcome outcome;
    if (EngineBusy())
        return outcome;
    ClearRunState();
    script_text = kVersionQuery;
    script_text.insert(0, ConnectHeader(request.database, request.user, request.password));
    try {
        ExecProc(view, entry, script_text);
        if (platform::FileExists(kVersionFileName)) {
            outcome.version = ReadTextFile(kVersionFileName);
            platform::DeleteFile(kVersionFileName);
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        // The query is answered by its outcome: no version, and why.
        outcome.failure = e.what();
    }
    for (const auto& error : TheRunState().Errors)
        outcome.errors.push_back(EngineErrorFrom(error.first, error.second));
    return outcome;
}

}  // namespace tallo::script
