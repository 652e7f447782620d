// tallo-run: the tool's commands without a window, for deployment scripts,
// CI pipelines and servers reached over SSH. The same engine binding, connect
// header, protocol files and outcome texts as the window; the outcome goes to
// stdout and the exit code.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/base/errors.h"
#include "app/base/platform.h"
#include "app/settings/settings.h"
#include "cli/console_view.h"
#include "cli/fleet.h"
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
using cp1251::operator""_cp;

constexpr int kExitClean = 0;
constexpr int kExitErrors = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSkipped = 3;

const char* const kUsage =
    "Usage:\n"
    "  tallo-run run --database DB [--user USER] [--engine PATH] [--settings INI] SCRIPT\n"
    "  tallo-run run (--database DB)... | --all [--jobs N] [--expect-version V]\n"
    "                [--report FILE.json] [--junit FILE.xml] [...] SCRIPT\n"
    "  tallo-run version --database DB [--user USER] [--engine PATH] [--settings INI]\n"
    "  tallo-run pack FILE\n"
    "  tallo-run unpack FILE\n"
    "  tallo-run --help\n"
    "  tallo-run --version\n"
    "\n"
    "run      runs SCRIPT (plain, or packed as .zql) through the script engine and saves the\n"
    "         protocol beside it (Result.txt, or packed Result.Zxt); prints the outcome and the\n"
    "         engine's MSG: texts. With several databases (or --all, or any of the options\n"
    "         below) each database runs in a process of its own, its protocol named after it\n"
    "         (Result.<alias>.txt), and a summary table ends the output\n"
    "version  prints the version recorded in the database's db_version table (the engine\n"
    "         writes it to DBVersion.out in the current directory, which is then deleted)\n"
    "pack     packs FILE (upd.sql -> upd.Zql, upd.txt -> upd.Zxt) and prints the new name\n"
    "unpack   unpacks FILE (upd.Zql -> upd.sql, anything else -> .txt) and prints the new name\n"
    "\n"
    "Options:\n"
    "  -d, --database DB   database path or connection string (host:path), or an alias of the\n"
    "                      [Databases] section of Tallo-3.ini\n"
    "  -u, --user USER     user name (default SYSDBA); upper-cased as the window does\n"
    "  -e, --engine PATH   script engine library (default: IBEScript.dll beside tallo-run,\n"
    "                      else the one in the current directory)\n"
    "  -s, --settings INI  settings file (default: Tallo-3.ini beside tallo-run)\n"
    "  -a, --all           every alias of [Databases]\n"
    "  -j, --jobs N        databases run at a time (default: the number of processors)\n"
    "  --expect-version V  runs only databases whose version is V; the others are skipped\n"
    "  --report FILE       writes a JSON report (one object per database)\n"
    "  --junit FILE        writes a JUnit XML report (one testcase per database)\n"
    "\n"
    "The password is read from the environment variable TALLO_PASSWORD, or asked for without\n"
    "echo when standard input is a terminal; it is never taken from the command line.\n"
    "Progress is shown on standard error when it is a terminal.\n"
    "\n"
    "Ctrl+C (SIGINT) or SIGTERM stops a run: the running statement is cancelled, what was not\n"
    "committed is rolled back and the protocol is saved; a second Ctrl+C ends tallo-run at once.\n"
    "\n"
    "Exit codes: 0 the script ran without errors (or the version was read); 1 the engine\n"
    "reported errors (or no version could be read); 2 a usage or file error; 3 some databases\n"
    "were skipped for their version and none failed; 130 stopped by SIGINT, 143 by SIGTERM.\n";

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

// The options whose value is kept as given: the short name (null for none),
// the long name, the field the value goes to, and whether the option is one
// of run's options for several databases.
struct TextOption {
    const char* short_name;
    const char* long_name;
    std::string Options::*field;
    bool fleet;
};
constexpr TextOption kTextOptions[] = {
    {nullptr, "--expect-version", &Options::expect_version, true},
    {nullptr, "--report", &Options::report, true},
    {nullptr, "--junit", &Options::junit, true},
    {nullptr, "--fleet-result", &Options::fleet_result, false},
    {nullptr, "--fleet-tag", &Options::fleet_tag, false},
    {"-u", "--user", &Options::user, false},
    {"-e", "--engine", &Options::engine, false},
    {"-s", "--settings", &Options::settings, false},
};

// --help and --version are honoured anywhere before "--"; help wins when
// both are given.
enum class InfoRequest { None, Help, Version };

InfoRequest InfoRequested(int argc, char** argv) {
    InfoRequest found = InfoRequest::None;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--")
            break;
        if (arg == "--help" || arg == "-h" || (i == 1 && arg == "help"))
            return InfoRequest::Help;
        if (arg == "--version")
            found = InfoRequest::Version;
    }
    return found;
}

Options Parse(int argc, char** argv) {
    Options o;
    if (argc < 2)
        throw UsageError("no command given");
    o.command = argv[1];
    if (o.command != "run" && o.command != "version" && o.command != "pack" && o.command != "unpack")
        throw UsageError("unknown command '" + o.command + "'");
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        // "--name=value", "--name value" or "-n value".
        auto is = [&](const char* s, const char* l) {
            return (s != nullptr && arg == s) || arg == l || arg.rfind(std::string(l) + "=", 0) == 0;
        };
        auto value = [&]() -> std::string {
            std::size_t eq = arg.find('=');
            if (arg.rfind("--", 0) == 0 && eq != std::string::npos)
                return arg.substr(eq + 1);
            if (i + 1 >= argc)
                throw UsageError("option " + arg + " needs a value");
            return argv[++i];
        };
        const TextOption* text_option = nullptr;
        for (const TextOption& t : kTextOptions) {
            if (is(t.short_name, t.long_name))
                text_option = &t;
        }
        if (text_option != nullptr) {
            o.*(text_option->field) = value();
            o.fleet_options = o.fleet_options || text_option->fleet;
        } else if (is("-d", "--database")) {
            o.databases.push_back(value());
            if (o.databases.size() == 1)
                o.database = o.databases.front();
        } else if (arg == "-a" || arg == "--all") {
            o.all = o.fleet_options = true;
        } else if (is("-j", "--jobs")) {
            const std::string n = value();
            char* end = nullptr;
            const unsigned long jobs = std::strtoul(n.c_str(), &end, 10);
            if (n.empty() || *end != '\0' || jobs == 0 || jobs > 256)
                throw UsageError("--jobs takes a number from 1 to 256, not '" + n + "'");
            o.jobs = static_cast<unsigned>(jobs);
            o.fleet_options = true;
        } else if (is("-p", "--password")) {
            throw UsageError(
                "the password is not taken from the command line (it would show in the process "
                "list); set TALLO_PASSWORD or type it at the prompt");
        } else if (arg == "--") {
            for (++i; i < argc; ++i)
                o.operands.push_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option '" + arg + "'");
        } else {
            o.operands.push_back(arg);
        }
    }
    bool database_command = o.command == "run" || o.command == "version";
    if (!database_command && (!o.database.empty() || !o.engine.empty() || !o.settings.empty()))
        throw UsageError(o.command + " takes no --database, --engine or --settings");
    if (database_command && o.databases.empty() && !o.all)
        throw UsageError(o.command + " needs --database DB");
    if (o.command != "run" && (o.fleet_options || o.databases.size() > 1))
        throw UsageError(o.command + " takes one --database and none of the options of run for several");
    if (!o.fleet_result.empty() && (o.databases.size() != 1 || o.all || o.jobs != 0 || !o.report.empty() ||
                                    !o.junit.empty() || o.fleet_tag.empty()))
        throw UsageError("--fleet-result is the runner's own, for one database and a tag");
    return o;
}

// The terminal's mode while the password is typed without echo; restored on
// every way out, an interrupt included.
termios g_saved_mode{};
volatile std::sig_atomic_t g_mode_saved = 0;
constexpr int kPromptSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RestoreTerminalAndDie(int signal) {
    if (g_mode_saved)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved_mode);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::string PromptPassword() {
    // Echo goes off before the prompt shows, so nothing typed after it is
    // ever echoed or thrown away.
    // The signals' own actions come back after the prompt.
    struct sigaction before[std::size(kPromptSignals)];
    if (::tcgetattr(STDIN_FILENO, &g_saved_mode) == 0) {
        g_mode_saved = 1;
        struct sigaction restore {};
        restore.sa_handler = RestoreTerminalAndDie;
        sigemptyset(&restore.sa_mask);
        for (std::size_t i = 0; i < std::size(kPromptSignals); ++i)
            ::sigaction(kPromptSignals[i], &restore, &before[i]);
        termios quiet = g_saved_mode;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::fputs("Password: ", stderr);
    std::fflush(stderr);
    std::string password;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        password += static_cast<char>(c);
    if (g_mode_saved) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved_mode);
        g_mode_saved = 0;
        for (std::size_t i = 0; i < std::size(kPromptSignals); ++i)
            ::sigaction(kPromptSignals[i], &before[i], nullptr);
    }
    std::fputs("\n", stderr);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return password;
}

// The password as the window would send it: Windows-1251.
std::string ReadPassword() {
    if (const char* env = std::getenv("TALLO_PASSWORD"))
        return cli::FromTerminal(env);
    if (!::isatty(STDIN_FILENO))
        return {};
    return cli::FromTerminal(PromptPassword());
}

std::string SettingsFile(const Options& o) {
    std::string path = o.settings.empty() ? SettingsPath() : o.settings;
    if (!o.settings.empty() && !platform::FileExists(path))
        throw UsageError("settings file not found: " + path);
    return path;
}

// The alias of [Databases] the text names, as the settings write it; empty
// when it names none.
std::string AliasNamed(const Options& o, const std::string& database) {
    TSettingsReader reader(SettingsFile(o));
    std::vector<std::string> aliases;
    reader.ListKeys("Databases", aliases);
    std::string typed = cli::FromTerminal(database);
    for (const auto& alias : aliases) {
        if (!alias.empty() && (cp1251::EqualNoCase(alias, typed) || cp1251::EqualNoCase(alias, database)))
            return alias;
    }
    return {};
}

// The database text: an alias of [Databases] gives its value, anything else
// is a path or connection string as written.
std::string ResolveDatabase(const Options& o) {
    const std::string alias = AliasNamed(o, o.database);
    if (alias.empty())
        return o.database;
    std::string value = TSettingsReader(SettingsFile(o)).GetValue("Databases", alias, "");
    if (value.empty())
        throw UsageError("the alias " + o.database + " names no database in " + SettingsFile(o));
    return value;
}

// The engine named by --engine, else the one installed beside tallo-run, and
// only when there is none the current directory's: a library planted where
// the runner happens to be started must not receive the password.
void LoadEngine(const Options& o, EngineBinding& engine) {
    std::string file = o.engine;
    if (file.empty()) {
        file = platform::FolderOf(platform::ExecutablePath()) + kEngineFileName;
        if (!platform::FileExists(file)) {
            file = std::string("./") + kEngineFileName;
            if (!platform::FileExists(file)) {
                throw UsageError(std::string("script engine ") + kEngineFileName +
                                 " not found beside tallo-run nor in the current directory; use "
                                 "--engine PATH");
            }
        }
    } else if (!platform::FileExists(file)) {
        throw UsageError("script engine not found: " + file);
    } else if (file.find('/') == std::string::npos) {
        file = "./" + file;  // the file named, not one found elsewhere
    }
    std::string error;
    engine.library = platform::Library::Load(file, &error);
    engine.entry = reinterpret_cast<TalloExecScriptTextFn>(engine.library.Symbol(kEngineEntryName));
    engine.cancel = reinterpret_cast<TalloCancelScriptTextFn>(engine.library.Symbol(kEngineCancelName));
    engine.script_folder =
        reinterpret_cast<TalloSetScriptFolderFn>(engine.library.Symbol(kEngineScriptFolderName));
    if (!engine.entry) {
        throw UsageError("cannot use the script engine " + file + ": " +
                         (error.empty() ? std::string("it has no entry ") + kEngineEntryName : error));
    }
}

// The engine's errors, on stderr.
void PrintEngineErrors(const std::vector<script::EngineError>& errors) {
    for (const auto& error : errors) {
        std::string shown = "Error: " + error.message + "\n" + error.where;
        for (std::size_t p = 0; (p = shown.find('\r', p)) != std::string::npos;)
            shown.erase(p, 1);
        std::fprintf(stderr, "%s\n", cli::ToTerminal(shown).c_str());
    }
}

// The request of the options: the database resolved, the user upper-cased as
// the window does it, the password from the environment or the terminal.
script::RunRequest RequestFor(const Options& o, const std::string& script_file) {
    return {ResolveDatabase(o), cp1251::Upper(cli::FromTerminal(o.user)), ReadPassword(), script_file};
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
    cli::ConsoleView console(stdout, stderr, ::isatty(STDIN_FILENO) != 0);
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
    const bool saved = !outcome.protocol_file.empty();
    if (!saved) {
        std::fflush(stdout);
        if (!outcome.protocol_failure.empty())
            std::fprintf(stderr, "tallo-run: %s\n", cli::ToTerminal(outcome.protocol_failure).c_str());
        std::fprintf(stderr, "tallo-run: the protocol %s was not saved\n",
                     script::ProtocolFileFor(script).c_str());
        // The engine's errors would otherwise be nowhere.
        PrintEngineErrors(outcome.errors);
    }
    if (outcome.result == script::RunResult::Failed)
        return AfterStop(kExitErrors);
    return AfterStop(saved ? kExitClean : kExitUsage);
}

// The view of a run for one database of several: nothing is shown and no
// question asked; it notes whether a stop signal came before the engine's
// call returned.
class FleetChildView : public cli::ConsoleView {
  public:
    FleetChildView() : ConsoleView(stdout, stdout, false) {}
    void RunEnds() override { stopped_in_run_ = cli::StopSignal() != 0; }
    bool StoppedInRun() const { return stopped_in_run_; }

  private:
    bool stopped_in_run_ = false;
};

void SaveResult(const cli::DatabaseResult& result, const std::string& result_file) {
    const std::string text = cli::ResultFileText(result);
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
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/tallo-version-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr)
        throw Failure("cannot make a folder for the version query: " + std::string(std::strerror(errno)));
    const int here = ::open(".", O_RDONLY | O_DIRECTORY);
    script::VersionOutcome outcome;
    std::string text;
    if (here >= 0 && ::chdir(folder.c_str()) == 0) {
        outcome = script::ReadVersion(request, entry, text, view);
        if (::fchdir(here) != 0)
            outcome.failure = "cannot return to the current directory";
    } else {
        outcome.failure = "cannot use the folder " + folder;
    }
    if (here >= 0)
        ::close(here);
    platform::DeleteFile(folder + "/" + script::kVersionFileName);
    ::rmdir(folder.c_str());
    return outcome;
}

std::string WhyNoVersion(const script::VersionOutcome& v) {
    if (!v.errors.empty())
        return v.errors.front().message;
    return v.failure.empty() ? script::NoVersionText() : v.failure;
}

// The script's run for one database of several, into its result.
void RunForFleet(const Options& o, const script::RunRequest& request, const EngineBinding& engine,
                 FleetChildView& view, cli::DatabaseResult& result) {
    std::string script_text;
    const script::RunOutcome outcome = script::RunScript(request, engine, script_text, view, o.fleet_tag);
    result.statements = outcome.statements;
    result.errors = outcome.errors.size();
    result.elapsed = outcome.elapsed;
    result.messages = outcome.messages;
    for (const auto& e : outcome.errors)
        result.failures.push_back({e.line, e.sqlstate, e.message});
    result.protocol = outcome.protocol_file;
    result.outcome =
        outcome.result == script::RunResult::Clean ? cli::FleetOutcome::Clean : cli::FleetOutcome::Failed;
    if (outcome.result == script::RunResult::NotRun)
        result.note = "the script file is empty: nothing was run";
    else if (!outcome.interrupted.empty())
        result.note =
            "the last run for this database in the folder was interrupted; its protocol is kept as " +
            outcome.interrupted;
    if (outcome.protocol_file.empty()) {
        result.outcome = cli::FleetOutcome::Failed;
        result.note = "the protocol " + script::ProtocolFileFor(request.script_file, o.fleet_tag) +
                      " was not saved" +
                      (outcome.protocol_failure.empty() ? "" : ": " + outcome.protocol_failure);
    }
}

// One database of several, in the process the runner started for it: the
// result goes to the file named by --fleet-result, never to the display.
int RunFleetChild(const Options& o) {
    cli::DatabaseResult result;
    result.database = o.database;
    result.tag = o.fleet_tag;
    auto stopped = [&result](const char* when) {
        result.outcome = cli::FleetOutcome::Interrupted;
        result.note = "stopped by " + cli::SignalName(cli::StopSignal()) + when;
    };
    try {
        if (o.operands.size() != 1)
            throw UsageError("run takes exactly one SCRIPT");
        EngineBinding engine;
        LoadEngine(o, engine);
        script::RunRequest request = RequestFor(o, o.operands[0]);
        // The runner started this process with the stop signals held: one
        // that came meanwhile arrives here.
        cli::StopRunsOnSignals(engine.cancel);
        // The version query runs in another folder: a database file named
        // relative to this one is named in full.
        if (platform::FileExists(request.database))
            request.database = platform::FullPath(request.database);
        FleetChildView view;
        const script::VersionOutcome before = ReadVersionApart(request, engine.entry, view);
        result.version_before = TrimmedVersion(before.version);
        if (cli::StopSignal() != 0) {
            stopped(" before the script ran");
        } else if (!o.expect_version.empty() && result.version_before != o.expect_version) {
            result.outcome =
                result.version_before.empty() ? cli::FleetOutcome::Failed : cli::FleetOutcome::Skipped;
            result.note =
                result.version_before.empty()
                    ? "no version could be read: " + WhyNoVersion(before)
                    : "the database is at version " + result.version_before + ", not " + o.expect_version;
        } else {
            RunForFleet(o, request, engine, view, result);
            // A signal too late to stop the script leaves it clean.
            if (view.StoppedInRun() && result.outcome == cli::FleetOutcome::Failed)
                stopped("; what the script had not committed was rolled back");
            else if (result.outcome == cli::FleetOutcome::Clean && cli::StopSignal() == 0)
                result.version_after = TrimmedVersion(ReadVersionApart(request, engine.entry, view).version);
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        result.outcome = cli::FleetOutcome::Failed;
        result.note = e.what();
    }
    SaveResult(result, o.fleet_result);
    return cli::StopSignal() != 0 ? cli::StoppedExitCode(cli::StopSignal()) : kExitClean;
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
    plan.progress = ::isatty(STDERR_FILENO) != 0;
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
    if (std::getenv("TALLO_PASSWORD") == nullptr && ::isatty(STDIN_FILENO))
        ::setenv("TALLO_PASSWORD", PromptPassword().c_str(), 1);
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
    cli::ConsoleView console(stdout, stderr, ::isatty(STDIN_FILENO) != 0);
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
