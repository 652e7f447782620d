#include "cli/fleet.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pthread.h>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <utility>

#include "app/base/errors.h"
#include "app/base/platform.h"
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
std::atomic<pid_t> g_running[kMaxRunning];
static_assert(std::atomic<pid_t>::is_always_lock_free);

// The first signal is handed on to the runs by RunFleet; a second one ends
// them and the runner at once.
extern "C" void OnFleetStop(int signal) {
    if (g_stop_signal == 0) {
        g_stop_signal = signal;
        return;
    }
    for (auto& running : g_running) {
        if (const pid_t pid = running.load(); pid > 0)
            ::kill(pid, signal);
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);  // held until the handler returns, then the default action
}

extern "C" void OnChildEnded(int) {}

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

// Text for the reports: Windows-1251 turned to UTF-8 (a name that is UTF-8
// already stays as it is).
std::string Utf8(const std::string& text) {
    return cp1251::IsValidUtf8(text) ? text : cp1251::ToUtf8(text);
}

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonOptional(const std::string& text) {
    return text.empty() ? std::string("null") : JsonString(Utf8(text));
}

// Text for XML 1.0: markup escaped, control characters it cannot hold left out.
std::string XmlText(const std::string& utf8, bool attribute = false) {
    std::string out;
    for (unsigned char c : utf8) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\r':
                break;
            case '\n':
                out += attribute ? "&#10;" : "\n";
                break;
            default:
                if (c >= 0x20 || c == '\n' || c == '\t')
                    out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Seconds(std::chrono::milliseconds elapsed) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", static_cast<double>(elapsed.count()) / 1000.0);
    return buffer;
}

bool Bad(FleetOutcome o) {
    return o != FleetOutcome::Clean && o != FleetOutcome::Skipped;
}

struct Child {
    pid_t pid = -1;
    std::size_t index = 0;
    std::string result_file;
    std::chrono::steady_clock::time_point started;
};

pid_t Start(const FleetPlan& plan, std::size_t index, const std::string& result_file) {
    std::vector<std::string> args{plan.executable, "run",         "--fleet-result",
                                  result_file,     "--fleet-tag", plan.tags[index]};
    args.insert(args.end(), plan.child_args.begin(), plan.child_args.end());
    args.insert(args.end(), {"--database", plan.databases[index], "--", plan.script});
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // RunFleet holds interrupts while it forks, so the run starts with them
    // held until it has its handler: one that comes while it starts is
    // neither lost nor fatal to it.
    const pid_t runner = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw Failure(std::string("cannot start a run: ") + std::strerror(errno));
    if (pid == 0) {
        // A process group of its own: the terminal's Ctrl+C reaches the
        // runner alone, which hands it on once. A run whose runner is gone
        // stops as if told.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != runner)
            ::_exit(127);
        // No questions and no display: the result comes back as the file.
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
        }
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGINT);
        sigaddset(&stop, SIGTERM);
        ::sigprocmask(SIG_SETMASK, &stop, nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    return pid;
}

void Reap(const FleetPlan& plan, Child& child, int status, DatabaseResult& result) {
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
        if (WIFSIGNALED(status) && WTERMSIG(status) == g_stop_signal) {
            // Handed on by the runner to a run that could not stop its engine.
            result.outcome = FleetOutcome::Interrupted;
            result.note =
                "the run was ended by " + SignalName(g_stop_signal) + " before it handed over a result";
        } else if (WIFSIGNALED(status)) {
            result.note = "the run ended by signal " + std::to_string(WTERMSIG(status));
        } else if (result.note.empty())
            result.note = "the run ended with exit code " + std::to_string(WEXITSTATUS(status)) +
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
        text += key + ("\t" + Escape(value)) + "\n";
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
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tallo-fleet-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw Failure("cannot make a folder for the runs' results: " + std::string(std::strerror(errno)));
    const std::string folder = pattern;

    // Stop signals and ended runs are let in only while waiting (sigsuspend),
    // so neither can slip in between a look at them and the wait.
    struct sigaction on_child {};
    on_child.sa_handler = OnChildEnded;
    sigemptyset(&on_child.sa_mask);
    on_child.sa_flags = SA_NOCLDSTOP;
    struct sigaction old_on_child {};
    ::sigaction(SIGCHLD, &on_child, &old_on_child);
    sigset_t held, before;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGCHLD})
        sigaddset(&held, signal);
    ::pthread_sigmask(SIG_BLOCK, &held, &before);
    sigset_t waiting = before;
    for (int signal : {SIGINT, SIGTERM, SIGCHLD})
        sigdelset(&waiting, signal);

    std::map<pid_t, Child> running;
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
            child.pid = Start(plan, next, child.result_file);
            running[child.pid] = child;
            for (auto& slot : g_running) {
                pid_t free = 0;
                if (slot.compare_exchange_strong(free, child.pid))
                    break;
            }
            ++next;
        }
        if (g_stop_signal && !handed_on) {
            handed_on = true;
            for (const auto& [pid, child] : running)
                ::kill(pid, g_stop_signal);
        }
        if (running.empty())
            break;
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, WNOHANG);
        if (pid == 0 || (pid < 0 && errno == EINTR)) {
            ::sigsuspend(&waiting);
            continue;
        }
        if (pid < 0) {
            ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
            ::sigaction(SIGCHLD, &old_on_child, nullptr);
            throw Failure(std::string("cannot wait for the runs: ") + std::strerror(errno));
        }
        for (auto& slot : g_running) {
            pid_t ended = pid;
            if (slot.compare_exchange_strong(ended, 0))
                break;
        }
        auto found = running.find(pid);
        if (found == running.end())
            continue;
        DatabaseResult& result = results[found->second.index];
        Reap(plan, found->second, status, result);
        running.erase(found);
        ++done;
        if (plan.progress) {
            std::fprintf(stderr, "tallo-run: [%zu/%zu] %s: %s (%s s)\n", done, count,
                         Utf8(result.tag).c_str(), OutcomeName(result.outcome),
                         Seconds(result.elapsed).c_str());
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::sigaction(SIGCHLD, &old_on_child, nullptr);
    ::rmdir(folder.c_str());
    return results;
}

std::string SummaryTable(const std::vector<DatabaseResult>& results) {
    std::vector<std::vector<std::string>> rows{
        {"database", "outcome", "statements", "errors", "elapsed s", "version before", "version after"}};
    for (const auto& r : results) {
        rows.push_back({Utf8(r.database), OutcomeName(r.outcome), std::to_string(r.statements),
                        std::to_string(r.errors), Seconds(r.elapsed),
                        r.version_before.empty() ? "-" : Utf8(r.version_before),
                        r.version_after.empty() ? "-" : Utf8(r.version_after)});
    }
    // Widths in characters, not bytes, for Cyrillic names.
    auto width = [](const std::string& s) {
        std::size_t n = 0;
        for (unsigned char c : s)
            n += (c & 0xC0) != 0x80;
        return n;
    };
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], width(row[c]));
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size())
                line += std::string(widths[c] - width(row[c]) + 2, ' ');
        }
        text += line + "\n";
    }
    std::map<std::string, int> totals;
    for (const auto& r : results)
        ++totals[OutcomeName(r.outcome)];
    std::string line;
    for (const auto& [name, n] : totals)
        line += (line.empty() ? "" : ", ") + std::to_string(n) + " " + name;
    return text + std::to_string(results.size()) + " databases: " + line + "\n";
}

int FleetExitCode(const std::vector<DatabaseResult>& results) {
    bool skipped = false;
    for (const auto& r : results) {
        if (Bad(r.outcome))
            return 1;
        skipped = skipped || r.outcome == FleetOutcome::Skipped;
    }
    return skipped ? 3 : 0;
}

std::string JsonReport(const std::string& script, const std::string& expected_version,
                       const std::vector<DatabaseResult>& results, int exit_code) {
    std::string json = "{\n  \"schema\": \"tallo-run-report\",\n  \"schema_version\": " +
                       std::to_string(kReportSchemaVersion) + ",\n  \"script\": " + JsonString(Utf8(script)) +
                       ",\n  \"expected_version\": " + JsonOptional(expected_version) +
                       ",\n  \"exit_code\": " + std::to_string(exit_code) + ",\n  \"databases\": [";
    for (std::size_t i = 0; i < results.size(); ++i) {
        const DatabaseResult& r = results[i];
        json += i ? ",\n    {" : "\n    {";
        json += "\"database\": " + JsonString(Utf8(r.database)) + ", \"outcome\": \"" +
                OutcomeName(r.outcome) + "\", \"statements\": " + std::to_string(r.statements) +
                ", \"errors\": " + std::to_string(r.errors) +
                ", \"elapsed_ms\": " + std::to_string(r.elapsed.count()) +
                ", \"version_before\": " + JsonOptional(r.version_before) +
                ", \"version_after\": " + JsonOptional(r.version_after) +
                ", \"protocol\": " + JsonOptional(r.protocol) + ", \"note\": " + JsonOptional(r.note) +
                ", \"messages\": [";
        for (std::size_t m = 0; m < r.messages.size(); ++m)
            json += (m ? ", " : "") + JsonString(Utf8(r.messages[m]));
        json += "], \"failures\": [";
        for (std::size_t f = 0; f < r.failures.size(); ++f) {
            const FleetError& e = r.failures[f];
            json += std::string(f ? ", " : "") + "{\"line\": " + (e.line ? std::to_string(e.line) : "null") +
                    ", \"sqlstate\": " + JsonOptional(e.sqlstate) +
                    ", \"message\": " + JsonString(Utf8(e.message)) + "}";
        }
        json += "]}";
    }
    return json + "\n  ]\n}\n";
}

std::string JunitReport(const std::string& script, const std::vector<DatabaseResult>& results) {
    std::size_t failures = 0, skipped = 0;
    std::chrono::milliseconds total{0};
    for (const auto& r : results) {
        failures += Bad(r.outcome);
        skipped += r.outcome == FleetOutcome::Skipped;
        total += r.elapsed;
    }
    const std::string name = XmlText(Utf8(script));
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"tallo-run\" tests=\"" +
                      std::to_string(results.size()) + "\" failures=\"" + std::to_string(failures) +
                      "\" errors=\"0\" skipped=\"" + std::to_string(skipped) + "\" time=\"" + Seconds(total) +
                      "\">\n  <testsuite name=\"" + name + "\" tests=\"" + std::to_string(results.size()) +
                      "\" failures=\"" + std::to_string(failures) + "\" errors=\"0\" skipped=\"" +
                      std::to_string(skipped) + "\" time=\"" + Seconds(total) + "\">\n";
    for (const auto& r : results) {
        xml += "    <testcase classname=\"" + name + "\" name=\"" + XmlText(Utf8(r.database)) + "\" time=\"" +
               Seconds(r.elapsed) + "\"";
        if (r.outcome == FleetOutcome::Clean) {
            xml += "/>\n";
            continue;
        }
        xml += ">\n";
        if (r.outcome == FleetOutcome::Skipped) {
            xml += "      <skipped message=\"" + XmlText(Utf8(r.note), true) + "\"/>\n";
        } else {
            std::string first = r.note;
            if (!r.failures.empty()) {
                const FleetError& e = r.failures.front();
                first = "line " + std::to_string(e.line) +
                        (e.sqlstate.empty() ? "" : ", SQLSTATE " + e.sqlstate) + ": " + e.message;
            }
            std::string body;
            for (const auto& m : r.messages)
                body += m + "\n";
            body += first;
            xml += "      <failure type=\"" + std::string(OutcomeName(r.outcome)) + "\" message=\"" +
                   XmlText(Utf8(first), true) + "\">" + XmlText(Utf8(body)) + "</failure>\n";
        }
        xml += "    </testcase>\n";
    }
    return xml + "  </testsuite>\n</testsuites>\n";
}

}  // namespace tallo::cli
