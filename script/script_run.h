// The script run and the version query as data: a request goes in, an
// outcome comes out. The window's part of a run (the status line, message
// processing while the engine works, the protocol retry question, and what
// it does as the engine starts and returns) is a small interface the caller
// supplies; the window's handlers and tallo-run present the outcome each in
// their own way.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/platform.h"
#include "ibescript.h"
#include "script/run_state.h"

namespace tallo::script {

// "SET NAMES WIN1251; CONNECT " Q(db) " USER " Q(user) " PASSWORD " Q(password) "; "
std::string ConnectHeader(const std::string& database, const std::string& user, const std::string& password);

// The query behind the connect header of the version query.
extern const char* const kVersionQuery;
// Bare name of the file the engine writes the version into (current directory).
extern const char* const kVersionFileName;

// Texts of the run's outcome.
std::string SuccessText();
std::string FailureText();  // the two fixed lines; ScriptMessages follow it
// The version query's answer when no version could be read.
std::string NoVersionText();
// Protocol entry made when the run reaches no engine.
std::string NoEngineText();

// Protocol file for a script name: folder + "Result.Zxt" (packed) or "Result.txt";
// with a tag (one database of several), "Result.<tag>.Zxt" or "Result.<tag>.txt".
std::string ProtocolFileFor(const std::string& script_name, const std::string& tag = {});
bool IsPackedScript(const std::string& script_name);

// The 1-based line of the first NUL byte in text (lines end at LF, CR LF or
// a lone CR); 0 when there is none.
std::size_t LineOfFirstNul(const std::string& text);

// The protocol of a run that was made could not be saved; the message is the
// failure's own.
class ProtocolNotSaved : public Failure {
  public:
    using Failure::Failure;
};

// Fills script_text from the file named script_file: unpacked for ".zql" in
// any letter case, read as it is otherwise, empty when there is no such file.
// A script holding a NUL byte is refused with ScriptRefused (script_text
// stays empty). A UTF-8 or UTF-16 text (see script_encoding.h) is turned
// into what the connection reads: Windows-1251 when the script does not
// choose its own character set, UTF-8 without its byte-order mark when it
// does. Answers how the text was read when it was not Windows-1251 (""
// otherwise). Throws script_encoding::EncodingFailure for a character
// Windows-1251 cannot hold.
// header_room: bytes kept free after the text for the connect header, so
// that putting it in front does not copy the script.
std::string LoadScript(const std::string& script_file, std::string& script_text, std::size_t header_room = 0);

// What a run needs: the database, the credentials (8-bit Windows-1251) and
// the script file.
struct RunRequest {
    std::string database;
    std::string user;
    std::string password;
    std::string script_file;
};

// One error the engine reported, as its error callback gave it and split
// into its parts where the engine named them.
struct EngineError {
    std::string message;    // the engine's error text
    std::string where;      // the place as the engine told it, all of it
    std::size_t line = 0;   // the statement's first line; 0 when no statement
    std::string file;       // the INPUT file of the statement; empty for the script
    std::string sqlstate;   // empty when the engine gave none
    std::string statement;  // the statement's text, passwords masked
};

// The parts of an error callback's two texts.
EngineError EngineErrorFrom(const std::string& message, const std::string& where);

enum class RunResult {
    NotRun,  // the script file is missing or empty: nothing was run
    Clean,   // the engine reported no error
    Failed,  // the engine reported errors, or there was no engine
};

// What became of the run's protocol file.
enum class ProtocolResult {
    None,      // no run was made, so no protocol either
    Saved,     // written: ProtocolOutcome::file names it
    Declined,  // it could not be created and the operator declined to try again
    Failed,    // it could not be saved: ProtocolOutcome::failure says why
};

struct ProtocolOutcome {
    ProtocolResult result = ProtocolResult::None;
    std::string file;     // Saved: the protocol file written
    std::string failure;  // Failed: the failure's message
};

struct RunOutcome {
    RunResult result = RunResult::NotRun;
    std::vector<std::string> messages;     // the texts of the engine's "MSG:" errors, prefix removed
    std::vector<EngineError> errors;       // every error the engine reported
    std::size_t statements = 0;            // protocol entries that are not errors
    std::chrono::milliseconds elapsed{0};  // the engine call
    std::string read_as;                   // how the script was read when not Windows-1251 text
    std::string interrupted;               // where an interrupted run's protocol is kept; empty for none
    ProtocolOutcome protocol;              // whether the protocol was saved, and where
};

// The window's part of a run.
class RunView {
  public:
    virtual ~RunView() = default;
    // The status line: the script's encoding note and the engine's progress.
    virtual void ShowStatus(const std::string& text) = 0;
    // Lets the window handle waiting messages while the engine works.
    virtual void ProcessMessages() = 0;
    // The protocol file cannot be created: true tries again.
    virtual bool RetryProtocol(const std::string& question) = 0;
    // The script is read and the engine about to be called; interrupted as in
    // RunOutcome.
    virtual void RunStarts(const std::string& interrupted) { (void)interrupted; }
    // The engine call returned (or failed).
    virtual void RunEnds() {}
};

// Loads the script, hands the connect header and the script to the engine
// and saves the protocol beside the script (see aExecScriptExecute for the
// unfinished protocol and the refusals). script_text holds the text the
// engine reads; it must stay alive while the engine runs. A protocol that
// cannot be saved is told in protocol; anything that keeps the run
// from starting is thrown. For the engine call the engine (when it can be
// told) takes relative INPUT names from the script file's folder, made
// absolute; afterwards from the current directory again.
// A protocol tag names the protocol files of one database of several
// ("Result.<tag>.txt"; see ProtocolFileFor and UnfinishedProtocol).
RunOutcome RunScript(const RunRequest& request, const EngineBinding& engine, std::string& script_text,
                     RunView& view, const std::string& protocol_tag = {});

struct VersionOutcome {
    std::string version;              // as the engine wrote it; empty when none could be read
    std::vector<EngineError> errors;  // what the engine reported
    std::string failure;              // a failure met on the way, when one was
};

// The version query: the version the engine writes into DBVersion.out of the
// current directory, which is then deleted. Every failure but running out of
// memory is answered in the outcome.
VersionOutcome ReadVersion(const RunRequest& request, TalloExecScriptTextFn entry, std::string& script_text,
                           RunView& view);

// The text of the outcome shown in the status line and the information box:
// SuccessText, or FailureText followed by the MSG: texts.
std::string OutcomeText(const RunOutcome& outcome);

// The texts of the messages, each after CR LF (the form the window shows).
std::string MessagesText(const std::vector<std::string>& messages);

// The retry question for a protocol file that cannot be created.
std::string ProtocolRetryQuestion(const std::string& name);

// Replaces the file name with the protocol text, packed or as it is, with no
// wider permissions than like when given. When the file cannot be created the
// retry question comes: Yes tries again, No answers false without writing
// anything. Any other failure is thrown. True when the file was written.
bool SaveProtocolFile(RunView& view, const std::string& text, const std::string& name,
                      const std::string& like, bool packed);
// The same for a protocol that comes in pieces: source gives the pieces from
// the start, afresh for each attempt.
bool SaveProtocolFile(RunView& view, const std::function<platform::PieceSource()>& source,
                      const std::string& name, const std::string& like, bool packed);
// The same, packed.
bool SavePackedProtocol(RunView& view, const std::string& text, const std::string& name,
                        const std::string& like = {});

}  // namespace tallo::script
