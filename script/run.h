// The script run command and the database version query.
#pragma once

#include <string>

#include "base/errors.h"
#include "base/window_services.h"
#include "startup/startup.h"
#include "text/quoting.h"

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
// Protocol entry made when the run reaches no engine.
std::string NoEngineText();

// Protocol file for a script name: folder + "Result.Zxt" (packed) or "Result.txt".
std::string ProtocolFileFor(const std::string& script_name);
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

// Fills script_text from the file named in eScript: unpacked for ".zql" in any
// letter case, read as it is otherwise, empty when there is no such file.
// A script holding a NUL byte is refused with ScriptRefused (script_text
// stays empty). A UTF-8 or UTF-16 text (see script_encoding.h) is turned
// into what the connection reads: Windows-1251 when the script does not
// choose its own character set, UTF-8 without its byte-order mark when it
// does. Answers how the text was read when it was not Windows-1251 (""
// otherwise). Throws script_encoding::EncodingFailure for a character
// Windows-1251 cannot hold.
std::string LoadScript(WindowServices& window, std::string& script_text);

// The same for a text already read from the file named file_name.
std::string ToConnectionText(std::string& text, const std::string& file_name);

// Packs the protocol into name; a file that cannot be created brings the
// retry question (Yes tries again, No gives up quietly and answers false).
bool SavePackedProtocol(WindowServices& window, const std::string& text, const std::string& name,
                        const std::string& like = {});

// aExecScript: load, header, engine call with the window disabled and the
// SQL-wait cursor, protocol beside the script, outcome in the status line and
// the information box. The protocol grows beside the script while the engine
// works (UnfinishedProtocol): a second run in the same folder is refused with
// RunRefused before anything runs, and the protocol an interrupted run left
// there is kept and the operator told about it before the run starts. When
// the protocol cannot be saved, the outcome is still shown and the failure
// is thrown after it as ProtocolNotSaved.
void aExecScriptExecute(WindowServices& window, EngineBinding& engine, std::string& script_text);

// DBVersionBitBtn: the version query; every failure is absorbed.
void DBVersionBitBtnClick(WindowServices& window, EngineBinding& engine, std::string& script_text);

}  // namespace tallo::script
