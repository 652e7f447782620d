// One database of several, in the process the runner started for it: the
// version before, the script, the version after; the result goes to the file
// named by --fleet-result, never to the display.
#include "cli/fleet_child.h"

#include <new>

#include "base/platform.h"
#include "cli/console_view.h"
#include "cli/fleet.h"
#include "cli/stop_signals.h"
#include "packing/streams.h"

namespace tallo::cli {

namespace {

// The view of a run for one database of several: nothing is shown and no
// question asked; it notes whether a stop signal came before the engine's
// call returned.
class FleetChildView : public ConsoleView {
  public:
    FleetChildView() : ConsoleView(stdout, stdout, false) {}
    void RunEnds() override { stopped_in_run_ = StopSignal() != 0; }
    bool StoppedInRun() const { return stopped_in_run_; }

  private:
    bool stopped_in_run_ = false;
};

void SaveResult(const DatabaseResult& result, const std::string& result_file) {
    const std::string text = ResultFileText(result);
    SaveWholeFile(result_file, text.data(), text.size(), {});
}

std::string TrimmedVersion(std::string version) {
    while (!version.empty() && (version.back() == '\n' || version.back() == '\r' || version.back() == ' '))
        version.pop_back();
    return version;
}

// The version query in a folder of its own: runs for other databases may
// ask theirs in the same current directory at the same time.
script::VersionOutcome ReadVersionApart(const script::RunRequest& request, TalloExecScriptTextFn entry,
                                        script::RunView& view) {
    int error = 0;
    const std::string folder = platform::MakeTemporaryFolder("tallo-version-", &error);
    if (folder.empty())
        throw Failure("cannot make a folder for the version query: " + platform::SystemErrorText(error));
    script::VersionOutcome outcome;
    std::string text;
    const platform::FolderVisit visit = platform::WithCurrentFolder(
        folder, [&] { outcome = script::ReadVersion(request, entry, text, view); });
    if (visit == platform::FolderVisit::NotReturned)
        outcome.failure = "cannot return to the current directory";
    else if (visit == platform::FolderVisit::NotEntered)
        outcome.failure = "cannot use the folder " + folder;
    platform::DeleteFile(folder + "/" + script::kVersionFileName);
    platform::RemoveFolder(folder);
    return outcome;
}

std::string WhyNoVersion(const script::VersionOutcome& v) {
    if (!v.errors.empty())
        return v.errors.front().message;
    return v.failure.empty() ? script::NoVersionText() : v.failure;
}

// The script's run for one database of several, into its result.
void RunForFleet(const Options& o, const script::RunRequest& request, const EngineBinding& engine,
                 FleetChildView& view, DatabaseResult& result) {
    std::string script_text;
    const script::RunOutcome outcome = script::RunScript(request, engine, script_text, view, o.fleet_tag);
    result.statements = outcome.statements;
    result.errors = outcome.errors.size();
    result.elapsed = outcome.elapsed;
    result.messages = outcome.messages;
    for (const auto& e : outcome.errors)
        result.failures.push_back({e.line, e.sqlstate, e.message});
    result.protocol = outcome.protocol.file;
    result.outcome = outcome.result == script::RunResult::Clean ? FleetOutcome::Clean : FleetOutcome::Failed;
    if (outcome.result == script::RunResult::NotRun)
        result.note = "the script file is empty: nothing was run";
    else if (!outcome.interrupted.empty())
        result.note =
            "the last run for this database in the folder was interrupted; its protocol is kept as " +
            outcome.interrupted;
    if (outcome.protocol.result != script::ProtocolResult::Saved) {
        result.outcome = FleetOutcome::Failed;
        result.note =
            "the protocol " + script::ProtocolFileFor(request.script_file, o.fleet_tag) + " was not saved" +
            (outcome.protocol.result == script::ProtocolResult::Failed ? ": " + outcome.protocol.failure
                                                                       : "");
    }
}

}  // namespace

int RunFleetChild(const Options& o) {
    DatabaseResult result;
    result.database = o.database;
    result.tag = o.fleet_tag;
    auto stopped = [&result](const char* when) {
        result.outcome = FleetOutcome::Interrupted;
        result.note = "stopped by " + SignalName(StopSignal()) + when;
    };
    try {
        if (o.operands.size() != 1)
            throw UsageError("run takes exactly one SCRIPT");
        EngineBinding engine;
        LoadEngine(o, engine);
        script::RunRequest request = RequestFor(o, o.operands[0]);
        // The runner started this process with the stop signals held: one
        // that came meanwhile arrives here.
        StopRunsOnSignals(engine.cancel);
        // The version query runs in another folder: a database file named
        // relative to this one is named in full.
        if (platform::FileExists(request.database))
            request.database = platform::FullPath(request.database);
        FleetChildView view;
        const script::VersionOutcome before = ReadVersionApart(request, engine.entry, view);
        result.version_before = TrimmedVersion(before.version);
        if (StopSignal() != 0) {
            stopped(" before the script ran");
        } else if (!o.expect_version.empty() && result.version_before != o.expect_version) {
            result.outcome = result.version_before.empty() ? FleetOutcome::Failed : FleetOutcome::Skipped;
            result.note =
                result.version_before.empty()
                    ? "no version could be read: " + WhyNoVersion(before)
                    : "the database is at version " + result.version_before + ", not " + o.expect_version;
        } else {
            RunForFleet(o, request, engine, view, result);
            // A signal too late to stop the script leaves it clean.
            if (view.StoppedInRun() && result.outcome == FleetOutcome::Failed)
                stopped("; what the script had not committed was rolled back");
            else if (result.outcome == FleetOutcome::Clean && StopSignal() == 0)
                result.version_after = TrimmedVersion(ReadVersionApart(request, engine.entry, view).version);
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        result.outcome = FleetOutcome::Failed;
        result.note = e.what();
    }
    SaveResult(result, o.fleet_result);
    return StopSignal() != 0 ? StoppedExitCode(StopSignal()) : kExitClean;
}

}  // namespace tallo::cli
