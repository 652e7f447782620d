// The pre-flight: the whole script, INPUT files included, split into the list
// of statements the run executes, before anything is connected or executed.
// A damaged script (an unterminated construct, a PSQL body without its END,
// text after the last terminator, a bad SET TERM, an INPUT file that cannot be
// read or that holds a NUL byte, an INPUT cycle or nesting deeper than the
// limit) yields no statements
// at all, only the failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/commands.h"
#include "engine/failure.h"
#include "engine/splitter.h"

namespace tallo::engine {

struct Statement {
    std::string_view text;   // a view into the script's own text or an INPUT file's
    std::uint32_t line = 0;  // 1-based, in its own file
    std::uint32_t file = 0;  // index into Script::file_names; 0 = the script text
};

struct Script {
    std::vector<std::string> file_names;                 // [0] = "" for the script text itself
    std::vector<std::unique_ptr<std::string>> contents;  // INPUT files, in the order they are read
    std::size_t count = 0;                               // the statements, INPUT files' included
    // The statements themselves, when they were asked for (LoadScript).
    std::vector<Statement> statements;
    // The client-side commands, read once, in the order of their statements;
    // every other statement is SQL for the session. (Kept apart: a node for
    // each statement would slow the pre-flight of a large script down.)
    struct CommandAt {
        std::size_t statement;  // index into statements
        Command command;
    };
    std::vector<CommandAt> commands;

    // What statement number `index` is.
    const Command& CommandOf(std::size_t index) const;
};

// Why a script was refused: the message and where (line and file).
class PreflightFailure : public EngineFailure {
  public:
    PreflightFailure(const std::string& message, std::size_t line, std::string file)
        : EngineFailure(message), line(line), file(std::move(file)) {}
    std::size_t line;
    std::string file;  // "" for the script text itself
};

// INPUT files nest at most this deep.
constexpr int kMaxInputDepth = 16;

// Splits the text (cut at its first NUL) and every INPUT file it names; the
// statements are views into text, which must outlive the Script.
// Relative INPUT names are taken from the including file's folder: for the
// script text, `folder` (the folder of the file it was read from; "" for the
// current directory). Names are shown (file_names, messages) as they stand
// from that folder. Splitting stops after EXIT or QUIT, which end the run.
// Throws PreflightFailure.
//
// read_input, when given, supplies the content of an INPUT file by its
// resolved name (nullopt: it cannot be read) instead of the file system.
using InputReader = std::function<std::optional<std::string>(const std::string& path)>;
Script LoadScript(std::string_view text, const InputReader& read_input = {}, const std::string& folder = {});

// The same check of a text read from source, keeping of the statements only
// their count and the client commands: a run reads the statements again
// with a StatementReader.
Script Preflight(ScriptSource& source, const std::string& folder = {}, const InputReader& read_input = {});

// The statements of a script the pre-flight accepted, read again from the
// same text in the order the run takes them. A statement's text lives until
// the next call.
class StatementReader {
  public:
    StatementReader(const Script& script, ScriptSource& text);
    ~StatementReader();
    StatementReader(const StatementReader&) = delete;
    StatementReader& operator=(const StatementReader&) = delete;

    // The next statement; nullopt after the last.
    std::optional<Statement> Next();

  private:
    struct File;
    const Script& script_;
    std::vector<std::unique_ptr<File>> files_;  // the script text, then the INPUT files open in it
    std::size_t index_ = 0;                     // of the next statement
    std::size_t command_ = 0;                   // the first command not passed yet
    std::size_t inputs_ = 0;                    // the INPUT files entered so far
    std::string terminator_ = ";";
};

// "At line 12" or "At line 12 of file "/x/y.sql"": the head of the error
// callback's second text (see ibescript.h).
std::string DescribeWhere(std::size_t line, const std::string& file);

}  // namespace tallo::engine
