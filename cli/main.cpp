// tallo-run: the tool's commands without a window, for deployment scripts,
// CI pipelines and servers reached over SSH. The same engine binding, connect
// header, protocol files and outcome texts as the window; the outcome goes to
// stdout and the exit code. Here: the commands, and the supervisor of a
// script's runs against several databases; the command line is options.*,
// the run for one database of several fleet_child.*, the reports reports.*.
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/settings/settings.h"
#include "base/errors.h"
#include "base/platform.h"
#include "cli/console_view.h"
#include "cli/fleet.h"
#include "cli/fleet_child.h"
#include "cli/options.h"
#include "cli/reports.h"
#include "cli/stop_signals.h"
#include "packing/packed_names.h"
#include "packing/streams.h"
#include "packing/zip_file.h"
#include "script/run_state.h"
#include "script/script_run.h"
#include "script/unfinished_protocol.h"
#include "text/letter_case.h"
#include "text/script_encoding.h"
#include "text/win1251.h"

namespace {

using namespace tallo;
using namespace tallo::cli;

// The engine's errors, on stderr.
void PrintEngineErrors(const std::vector<script::EngineError>& errors) {
    for (const auto& error : errors) {
        std::string shown = "Error: " + error.message + "\n" + error.where;
        for (std::size_t p = 0; (p = shown.find('\r', p)) != std::string::npos;)
            shown.erase(p, 1);
        std::fprintf(stderr, "%s\n", cli::ToTerminal(shown).c_str());
    }
}

// The exit code of a command whose engine call a stop signal may have ended:
// 128 + the signal once one came, with a line on stderr.
int AfterStop(int code) {
    const int signal = cli::StopSignal();
    if (signal == 0)
        return code;
    std::fflush(stdout);
    std::fprintf(stderr, "tallo-run: stopped by %s\n", cli::SignalName(signal).c_str());
    return cli::StoppedExitCode(signal);
}

int Run(const Options& o) {
    if (o.operands.size() != 1)
        throw UsageError("run takes exactly one SCRIPT");
    const std::string& script = o.operands[0];
    if (!platform::FileExists(script))
        throw UsageError("script file not found: " + script);
    cli::ConsoleView console(stdout, stderr, platform::IsTerminal(stdin));
    EngineBinding engine;
    LoadEngine(o, engine);
    const script::RunRequest request = RequestFor(o, script);
    cli::StopRunsOnSignals(engine.cancel);
    std::string script_text;
    script::RunOutcome outcome;
    try {
        outcome = script::RunScript(request, engine, script_text, console);
    } catch (const script_encoding::EncodingFailure& e) {
        // Refused before anything ran: the script's own fault, like an
        // engine error.
        console.EndStatusLine();
        std::fprintf(stderr, "tallo-run: %s\n", cli::ToTerminal(e.message()).c_str());
        return AfterStop(kExitErrors);
    }
    if (outcome.result != script::RunResult::NotRun)
        console.Print(script::OutcomeText(outcome));
    if (!outcome.read_as.empty()) {
        console.EndStatusLine();
        std::fprintf(stderr, "tallo-run: %s: %s\n", cli::ToTerminal(platform::FileNameText(script)).c_str(),
                     outcome.read_as.c_str());
    }
    if (outcome.result == script::RunResult::NotRun)
        throw UsageError("the script file is empty: nothing was run");
    const bool saved = outcome.protocol.result == script::ProtocolResult::Saved;
    if (!saved) {
        std::fflush(stdout);
        if (outcome.protocol.result == script::ProtocolResult::Failed)
            std::fprintf(stderr, "tallo-run: %s\n", cli::ToTerminal(outcome.protocol.failure).c_str());
        std::fprintf(stderr, "tallo-run: the protocol %s was not saved\n",
                     script::ProtocolFileFor(script).c_str());
        // The engine's errors would otherwise be nowhere.
        PrintEngineErrors(outcome.errors);
    }
    if (outcome.result == script::RunResult::Failed)
        return AfterStop(kExitErrors);
    return AfterStop(saved ? kExitClean : kExitUsage);
}

void WriteReport(const std::string& file, const std::string& text) {
    try {
        SaveWholeFile(file, text.data(), text.size(), {});
    } catch (const Failure& e) {
        throw Failure("cannot write the report " + file + ": " + e.message());
    }
}

// The script against several databases, each in a process of its own.
int RunFleetParent(const Options& o) {
    if (o.operands.size() != 1)
        throw UsageError("run takes exactly one SCRIPT");
    if (!platform::FileExists(o.operands[0]))
        throw UsageError("script file not found: " + o.operands[0]);
    cli::FleetPlan plan;
    plan.executable = platform::ExecutablePath();
    plan.script = platform::FullPath(o.operands[0]);
    std::vector<std::string> databases = o.databases;
    if (o.all) {
        TSettingsReader reader(SettingsFile(o));
        std::vector<std::string> aliases;
        reader.ListKeys("Databases", aliases);
        for (const auto& alias : aliases) {
            if (!alias.empty() && !reader.GetValue("Databases", alias, "").empty())
                databases.push_back(alias);
        }
        if (databases.empty())
            throw UsageError("--all finds no alias in [Databases] of " + SettingsFile(o));
    }
    for (const auto& database : databases) {
        const std::string alias = AliasNamed(o, database);
        const std::string tag = cli::TagFor(alias.empty() ? database : alias, !alias.empty());
        for (const auto& other : plan.tags) {
            if (ascii::EqualNoCase(other, tag))
                throw UsageError("two databases would write the same protocol Result." + tag +
                                 ".txt: " + database);
        }
        plan.databases.push_back(database);
        plan.tags.push_back(tag);
    }
    plan.jobs = o.jobs != 0 ? o.jobs : std::max(1u, std::thread::hardware_concurrency());
    plan.progress = platform::IsTerminal(stderr);
    plan.child_args = {"--user", o.user};
    if (!o.engine.empty())
        plan.child_args.insert(plan.child_args.end(), {"--engine", platform::FullPath(o.engine)});
    if (!o.settings.empty())
        plan.child_args.insert(plan.child_args.end(), {"--settings", platform::FullPath(SettingsFile(o))});
    if (!o.expect_version.empty())
        plan.child_args.insert(plan.child_args.end(), {"--expect-version", o.expect_version});
    {
        EngineBinding engine;  // an engine that cannot be used is told once, here
        LoadEngine(o, engine);
    }
    // The password is asked once; the runs find it in their environment.
    if (std::getenv("TALLO_PASSWORD") == nullptr && platform::IsTerminal(stdin))
        platform::SetEnvironmentVariable("TALLO_PASSWORD", PromptPassword());
    // From here the first SIGINT or SIGTERM starts no further database and
    // stops the running ones; the summary and the reports are still written.
    cli::StopFleetOnSignals();
    // The folder's lock for the whole of the runs: another run or another set
    // of runs of a script in this folder is refused while they go.
    script::UnfinishedProtocol folder_lock(plan.script);
    if (!folder_lock.Interrupted().empty()) {
        std::fprintf(stderr, "%s\n",
                     cli::ToTerminal(script::InterruptedRunNotice(folder_lock.Interrupted())).c_str());
    }
    const std::vector<cli::DatabaseResult> results = cli::RunFleet(plan);
    std::fputs(cli::SummaryTable(results).c_str(), stdout);
    const int signal = cli::FleetStopSignal();
    if (signal != 0)
        std::printf("Stopped by %s: no further database was started.\n", cli::SignalName(signal).c_str());
    std::fflush(stdout);
    const int code = signal != 0 ? cli::StoppedExitCode(signal) : cli::FleetExitCode(results);
    if (!o.report.empty())
        WriteReport(o.report, cli::JsonReport(plan.script, o.expect_version, results, code));
    if (!o.junit.empty())
        WriteReport(o.junit, cli::JunitReport(plan.script, results));
    folder_lock.Finish();
    return code;
}

int Version(const Options& o) {
    if (!o.operands.empty())
        throw UsageError("version takes no operands");
    // The engine writes the answer into this file of the current directory;
    // a file left there by someone else would be read as the answer.
    if (platform::FileExists(script::kVersionFileName)) {
        throw UsageError(std::string(script::kVersionFileName) +
                         " already exists in the current directory; remove it or run from another "
                         "directory");
    }
    cli::ConsoleView console(stdout, stderr, platform::IsTerminal(stdin));
    EngineBinding engine;
    LoadEngine(o, engine);
    const script::RunRequest request = RequestFor(o, {});
    cli::StopRunsOnSignals(engine.cancel);
    std::string script_text;
    const script::VersionOutcome outcome = script::ReadVersion(request, engine.entry, script_text, console);
    console.EndStatusLine();
    if (!outcome.version.empty()) {
        std::string version = outcome.version;
        while (!version.empty() && (version.back() == '\n' || version.back() == '\r'))
            version.pop_back();
        std::printf("%s\n", cli::ToTerminal(version).c_str());
        return AfterStop(kExitClean);
    }
    std::printf("%s\n", cli::ToTerminal(script::NoVersionText()).c_str());
    std::fflush(stdout);
    // The window keeps the engine's reasons to itself; here they help.
    PrintEngineErrors(outcome.errors);
    return AfterStop(kExitErrors);
}

int PackOrUnpack(const Options& o, bool pack) {
    if (o.operands.size() != 1)
        throw UsageError(o.command + " takes exactly one FILE");
    const std::string& file = o.operands[0];
    const std::string target = pack ? PackedNameFor(file) : UnpackedNameFor(file);
    try {
        if (pack)
            PackFile(file, target);
        else
            UnpackFile(file, target);
    } catch (const Failure& e) {
        throw UsageError("cannot " + o.command + " " + file + ": " + cli::ToTerminal(e.message()),
                         e.detail());
    }
    std::printf("%s\n", target.c_str());
    return kExitClean;
}

}  // namespace

// The lower layer's account of a failure (zlib's message, say), on its own
// line after the failure's message.
void PrintDetail(const Failure& failure) {
    if (!failure.detail().empty())
        std::fprintf(stderr, "tallo-run: (%s)\n", failure.detail().c_str());
}

// The exit code, unless stdout could not take everything written to it: a
// pipeline must not take a run whose outcome it never saw for a clean one.
int CheckedStdout(int code) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return code;
    const int error = cli::OutputError() != 0 ? cli::OutputError() : errno != 0 ? errno : EIO;
    std::fprintf(stderr, "tallo-run: cannot write to standard output: %s\n", std::strerror(error));
    return kExitUsage;
}

int Main(int argc, char** argv) {
    try {
        InfoRequest info = InfoRequested(argc, argv);
        if (info == InfoRequest::Help) {
            std::fputs(kUsage, stdout);
            return kExitClean;
        }
        if (info == InfoRequest::Version) {
            // The project's version, handed in by the build.
            std::printf("tallo-run %s\n", TALLO_VERSION);
            return kExitClean;
        }
        Options o = Parse(argc, argv);
        if (o.command == "run" && !o.fleet_result.empty())
            return RunFleetChild(o);
        if (o.command == "run" && (o.fleet_options || o.databases.size() > 1))
            return RunFleetParent(o);
        if (o.command == "run")
            return Run(o);
        if (o.command == "version")
            return Version(o);
        return PackOrUnpack(o, o.command == "pack");
    } catch (const UsageError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "tallo-run: %s\n", e.message().c_str());
        PrintDetail(e);
        std::fputs("Try 'tallo-run --help'.\n", stderr);
        return kExitUsage;
    } catch (const Failure& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "tallo-run: %s\n", cli::ToTerminal(e.message()).c_str());
        PrintDetail(e);
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "tallo-run: %s\n", e.what());
        return kExitUsage;
    }
}

int main(int argc, char** argv) {
    // With stdout closed, the first file opened (Firebird's lock file) would
    // take descriptor 1 and receive the outcome.
    platform::EnsureStandardDescriptors();
    std::setlocale(LC_ALL, "");
    return CheckedStdout(Main(argc, argv));
}
