// tallo-run's command line: its options and their checks, the usage text,
// and what the options name: the settings file, the database, the engine, the
// password (from the environment, or asked for without echo).
#pragma once

#include <string>
#include <vector>

#include "base/errors.h"
#include "script/run_state.h"
#include "script/script_run.h"

namespace tallo::cli {

constexpr int kExitClean = 0;
constexpr int kExitErrors = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSkipped = 3;

extern const char* const kUsage;

// The command line asks for something that cannot be done as asked (exit
// code 2, with a pointer to --help).
class UsageError : public Failure {
  public:
    using Failure::Failure;
};

struct Options {
    std::string command;
    std::string database;                // the first --database
    std::vector<std::string> databases;  // every --database, in order
    bool all = false;
    unsigned jobs = 0;  // 0: the number of processors
    std::string expect_version;
    std::string report;
    std::string junit;
    bool fleet_options = false;  // any of --all, --jobs, --expect-version, --report, --junit
    // Set by the runner for the process it starts for one database of several.
    std::string fleet_result;
    std::string fleet_tag;
    std::string user = "SYSDBA";
    std::string engine;
    std::string settings;
    std::vector<std::string> operands;
};

// --help and --version are honoured anywhere before "--"; help wins when
// both are given.
enum class InfoRequest { None, Help, Version };
InfoRequest InfoRequested(int argc, char** argv);

// The options of the command line; UsageError when they ask for something
// that cannot be done as asked.
Options Parse(int argc, char** argv);

// Asks for the password on the terminal, without echo.
std::string PromptPassword();

// The settings file: --settings, else Tallo-3.ini beside tallo-run.
std::string SettingsFile(const Options& o);

// The alias of [Databases] the text names, as the settings write it; empty
// when it names none.
std::string AliasNamed(const Options& o, const std::string& database);

// The engine named by --engine, else the one installed beside tallo-run, and
// only when there is none the current directory's: a library planted where
// the runner happens to be started must not receive the password.
void LoadEngine(const Options& o, EngineBinding& engine);

// The request of the options: the database resolved, the user upper-cased as
// the window does it, the password from the environment or the terminal.
script::RunRequest RequestFor(const Options& o, const std::string& script_file);

}  // namespace tallo::cli
