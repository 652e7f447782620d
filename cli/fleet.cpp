#include "cli/fleet.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <utility>

#include "base/errors.h"
#include "base/platform.h"
#include "cli/reports.h"
#include "cli/stop_signals.h"
#include "packing/text_files.h"
#include "text/win1251.h"

namespace tallo::cli {

namespace {

constexpr const char* kResultHeader = "tallo-fleet-result 1";

// Every outcome with its name in the reports and in the result file.
constexpr std::pair<FleetOutcome, const char*> kOutcomeNames[] = {
    {FleetOutcome::Clean, "clean"},
    {FleetOutcome::Failed, "failed"},
    {FleetOutcome::Skipped, "skipped"},
    {FleetOutcome::Crashed, "crashed"},
    {FleetOutcome::Interrupted, "interrupted"},
    {FleetOutcome::NotRun, "not-run"},
};

// The first SIGINT or SIGTERM; 0 while none came.
volatile std::sig_atomic_t g_stop_signal = 0;

// The runs under way (0 in a free slot), for a second signal to end them.
// RunFleet lets the signals in only while it waits, when these are settled.
constexpr std::size_t kMaxRunning = 256;
std::atomic<platform::ProcessId> g_running[kMaxRunning];
static_assert(std::atomic<platform::ProcessId>::is_always_lock_free);

// The first signal is handed on to the runs by RunFleet; a second one ends
// them and the runner at once.
extern "C" void OnFleetStop(int signal) {
    if (g_stop_signal == 0) {
        g_stop_signal = signal;
        return;
    }
    for (auto& running : g_running)
        platform::SignalProcess(running.load(), signal);
    platform::EndBySignal(signal);
}

// A value on one line: backslash, CR, LF and TAB escaped.
std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
    return out;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        parts.push_back(line.substr(start, tab - start));
    parts.push_back(line.substr(start));
    return parts;
}

std::size_t Number(const std::string& text) {
    char* end = nullptr;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0')
        throw Failure("not a number in the result file: " + text);
    return static_cast<std::size_t>(n);
}

struct Child {
    platform::ProcessId pid = 0;
    std::size_t index = 0;
    std::string result_file;
    std::chrono::steady_clock::time_point started;
};

// The run for one database: the runner itself, with the runner's own
// options. The runs go in process groups of their own, so the terminal's
// Ctrl+C reaches the runner alone, which hands it on once; a run whose
// runner is gone stops as if told; no questions and no display: the result
// comes back as the file.
platform::ProcessId Start(platform::ChildProcesses& children, const FleetPlan& plan, std::size_t index,
                          const std::string& result_file) {
    std::vector<std::string> args{plan.executable, "run",         "--fleet-result",
                                  result_file,     "--fleet-tag", plan.tags[index]};
    args.insert(args.end(), plan.child_args.begin(), plan.child_args.end());
    args.insert(args.end(), {"--database", plan.databases[index], "--", plan.script});
    int error = 0;
    const platform::ProcessId pid = children.Start(args, &error);
    if (pid == 0)
        throw Failure("cannot start a run: " + platform::SystemErrorText(error));
    return pid;
}

void Reap(const FleetPlan& plan, Child& child, const platform::ProcessEnd& end, DatabaseResult& result) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - child.started);
    std::string text;
    bool have = platform::FileExists(child.result_file);
    if (have) {
        try {
            result = ParseResultFile(ReadTextFile(child.result_file));
        } catch (const Failure& e) {
            have = false;
            result.note = e.message();
        }
        platform::DeleteFile(child.result_file);
    }
    if (!have) {
        result.outcome = FleetOutcome::Crashed;
        if (end.signal != 0 && end.signal == g_stop_signal) {
            // Handed on by the runner to a run that could not stop its engine.
            result.outcome = FleetOutcome::Interrupted;
            result.note =
                "the run was ended by " + SignalName(g_stop_signal) + " before it handed over a result";
        } else if (end.signal != 0) {
            result.note = "the run ended by signal " + std::to_string(end.signal);
        } else if (result.note.empty())
            result.note = "the run ended with exit code " + std::to_string(end.exit_code) +
                          " and handed over no result";
    }
    result.database = plan.databases[child.index];
    result.tag = plan.tags[child.index];
    result.elapsed = elapsed;
}

}  // namespace

const char* OutcomeName(FleetOutcome outcome) {
    for (const auto& [named, name] : kOutcomeNames) {
        if (named == outcome)
            return name;
    }
    return "?";
}

std::string ResultFileText(const DatabaseResult& r) {
    std::string text = std::string(kResultHeader) + "\n";
    auto add = [&](const char* key, const std::string& value) {
        text += key;
        text += '\t';
        text += Escape(value);
        text += '\n';
    };
    add("outcome", OutcomeName(r.outcome));
    add("statements", std::to_string(r.statements));
    add("errors", std::to_string(r.errors));
    add("elapsed_ms", std::to_string(r.elapsed.count()));
    add("version_before", r.version_before);
    add("version_after", r.version_after);
    add("protocol", r.protocol);
    add("note", r.note);
    for (const auto& m : r.messages)
        add("message", m);
    for (const auto& f : r.failures)
        text += "failure\t" + std::to_string(f.line) + "\t" + Escape(f.sqlstate) + "\t" + Escape(f.message) +
                "\n";
    return text;
}

DatabaseResult ParseResultFile(const std::string& text) {
    DatabaseResult r;
    std::size_t start = 0;
    bool header = false;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        if (!header) {
            if (line != kResultHeader)
                throw Failure("the run's result file has an unknown form");
            header = true;
            continue;
        }
        const std::vector<std::string> parts = SplitTabs(line);
        const std::string& key = parts[0];
        const std::string value = parts.size() > 1 ? Unescape(parts[1]) : std::string();
        if (key == "outcome") {
            const auto* found = std::find_if(std::begin(kOutcomeNames), std::end(kOutcomeNames),
                                             [&value](const auto& named) { return value == named.second; });
            if (found == std::end(kOutcomeNames))
                throw Failure("unknown outcome in the run's result file: " + value);
            r.outcome = found->first;
        } else if (key == "statements") {
            r.statements = Number(value);
        } else if (key == "errors") {
            r.errors = Number(value);
        } else if (key == "elapsed_ms") {
            r.elapsed = std::chrono::milliseconds(Number(value));
        } else if (key == "version_before") {
            r.version_before = value;
        } else if (key == "version_after") {
            r.version_after = value;
        } else if (key == "protocol") {
            r.protocol = value;
        } else if (key == "note") {
            r.note = value;
        } else if (key == "message") {
            r.messages.push_back(value);
        } else if (key == "failure" && parts.size() == 4) {
            r.failures.push_back({Number(parts[1]), Unescape(parts[2]), Unescape(parts[3])});
        } else {
            throw Failure("unknown entry in the run's result file: " + key);
        }
    }
    if (!header)
        throw Failure("the run's result file is empty");
    return r;
}

std::string TagFor(const std::string& database, bool is_alias) {
    std::string name = database;
    if (!is_alias) {
        const std::size_t slash = name.find_last_of("/\\");
        if (slash != std::string::npos)
            name.erase(0, slash + 1);
        else if (const std::size_t colon = name.rfind(':'); colon != std::string::npos)
            name.erase(0, colon + 1);
        if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
            name.erase(dot);
    }
    for (char& c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!(std::isalnum(u) && u < 0x80) && c != '-' && c != '_' && c != '.')
            c = '_';
    }
    return name.empty() ? std::string("database") : name;
}

int FleetStopSignal() {
    return g_stop_signal;
}

void StopFleetOnSignals() {
    HandleStopSignals(OnFleetStop);
}

std::vector<DatabaseResult> RunFleet(const FleetPlan& plan) {
    const std::size_t count = plan.databases.size();
    std::vector<DatabaseResult> results(count);
    for (std::size_t i = 0; i < count; ++i) {
        results[i].database = plan.databases[i];
        results[i].tag = plan.tags[i];
        results[i].note = "not started: a stop signal came first";
    }
    int error = 0;
    const std::string folder = platform::MakeTemporaryFolder("tallo-fleet-", &error);
    if (folder.empty())
        throw Failure("cannot make a folder for the runs' results: " + platform::SystemErrorText(error));

    // Stop signals and ended runs are let in only while waiting, so neither
    // can slip in between a look at them and the wait.
    platform::ChildProcesses children;
    std::map<platform::ProcessId, Child> running;
    std::size_t next = 0;
    std::size_t done = 0;
    bool handed_on = false;
    while (next < count || !running.empty()) {
        while (!g_stop_signal && next < count &&
               running.size() < std::min<std::size_t>(plan.jobs, kMaxRunning)) {
            Child child;
            child.index = next;
            child.result_file = folder + "/" + std::to_string(next) + ".result";
            child.started = std::chrono::steady_clock::now();
            child.pid = Start(children, plan, next, child.result_file);
            running[child.pid] = child;
            for (auto& slot : g_running) {
                platform::ProcessId free = 0;
                if (slot.compare_exchange_strong(free, child.pid))
                    break;
            }
            ++next;
        }
        if (g_stop_signal && !handed_on) {
            handed_on = true;
            for (const auto& [pid, child] : running)
                platform::SignalProcess(pid, g_stop_signal);
        }
        if (running.empty())
            break;
        platform::ProcessEnd end;
        int error = 0;
        const platform::ProcessId pid = children.Reap(&end, &error);
        if (pid == 0) {
            children.Wait();
            continue;
        }
        if (pid < 0)
            throw Failure("cannot wait for the runs: " + platform::SystemErrorText(error));
        for (auto& slot : g_running) {
            platform::ProcessId ended = pid;
            if (slot.compare_exchange_strong(ended, 0))
                break;
        }
        auto found = running.find(pid);
        if (found == running.end())
            continue;
        DatabaseResult& result = results[found->second.index];
        Reap(plan, found->second, end, result);
        running.erase(found);
        ++done;
        if (plan.progress) {
            std::fprintf(stderr, "tallo-run: [%zu/%zu] %s: %s (%s s)\n", done, count,
                         Utf8(result.tag).c_str(), OutcomeName(result.outcome),
                         Seconds(result.elapsed).c_str());
        }
    }
    platform::RemoveFolder(folder);
    return results;
}

bool CountsAsFailure(FleetOutcome o) {
    return o != FleetOutcome::Clean && o != FleetOutcome::Skipped;
}

int FleetExitCode(const std::vector<DatabaseResult>& results) {
    bool skipped = false;
    for (const auto& r : results) {
        if (CountsAsFailure(r.outcome))
            return 1;
        skipped = skipped || r.outcome == FleetOutcome::Skipped;
    }
    return skipped ? 3 : 0;
}

}  // namespace tallo::cli
