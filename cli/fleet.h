// One script run against several databases: each database in a child process
// of its own (the runner itself, re-run for that one database), a given number
// at a time. A child hands its result to the parent as a small line-based
// file; the parent prints the summary and writes the reports from those.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tallo::cli {

enum class FleetOutcome {
    Clean,        // the script ran without errors
    Failed,       // the engine reported errors, or the run could not be made
    Skipped,      // the database is at another version than the one expected
    Crashed,      // the child ended without handing over a result
    Interrupted,  // stopped by SIGINT or SIGTERM: the running statement cancelled, work not
                  // committed rolled back, the protocol saved
    NotRun,       // not started: a stop signal came first
};

const char* OutcomeName(FleetOutcome outcome);

// One failing statement (texts Windows-1251).
struct FleetError {
    std::size_t line = 0;
    std::string sqlstate;
    std::string message;
};

// What one database's run came to. Texts are Windows-1251, as the engine
// gives them.
struct DatabaseResult {
    std::string database;  // as given: an alias or a path
    std::string tag;       // names its protocol: Result.<tag>.txt
    FleetOutcome outcome = FleetOutcome::NotRun;
    std::size_t statements = 0;
    std::size_t errors = 0;
    std::chrono::milliseconds elapsed{0};
    std::string version_before;
    std::string version_after;
    std::string protocol;  // the protocol file written; empty when none was
    std::string note;      // why it was skipped, or what kept it from running
    std::vector<std::string> messages;
    std::vector<FleetError> failures;
};

// The child's result file, and reading it back. Parse throws Failure on a
// text that is no result file.
std::string ResultFileText(const DatabaseResult& result);
DatabaseResult ParseResultFile(const std::string& text);

// The protocol tag of a database: the alias, else the file name without its
// extension; characters other than ASCII letters, digits, '-', '_' and '.'
// become '_'.
std::string TagFor(const std::string& database, bool is_alias);

struct FleetPlan {
    std::string executable;               // the runner to start for each database
    std::vector<std::string> databases;   // as given
    std::vector<std::string> tags;        // one per database
    std::vector<std::string> child_args;  // after "run", before the database's own
    std::string script;                   // absolute
    unsigned jobs = 1;
    bool progress = false;  // a line on stderr per database that ends
};

// Runs the children, at most plan.jobs at a time, each in a process group of
// its own, and answers one result per database in the plan's order. After a
// stop signal (see StopFleetOnSignals) no further database starts and the
// signal is handed on to the running ones, which stop their runs.
std::vector<DatabaseResult> RunFleet(const FleetPlan& plan);

// Takes SIGINT and SIGTERM for the runner of several databases: the first
// is noted (FleetStopSignal) and handed on by RunFleet; a second one ends
// the running children and the runner at once.
void StopFleetOnSignals();
// The first stop signal; 0 while none came.
int FleetStopSignal();

// Whether the outcome fails the set of runs: anything but clean and skipped.
bool CountsAsFailure(FleetOutcome outcome);
// 0 all clean, 1 any not clean and not skipped, 3 some skipped and none failed.
int FleetExitCode(const std::vector<DatabaseResult>& results);

}  // namespace tallo::cli
