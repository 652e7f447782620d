// tallo-run: the tool's commands without a window, for deployment scripts,
// CI pipelines and servers reached over SSH. The same engine binding, connect
// header, protocol files and outcome texts as the window; the outcome goes to
// stdout and the exit code.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/base/errors.h"
#include "app/base/platform.h"
#include "app/settings/settings.h"
#include "app/startup/startup.h"
#include "cli/console_view.h"
#include "packing/packed_names.h"
#include "packing/zip_file.h"
#include "script/script_run.h"
#include "text/script_encoding.h"
#include "text/win1251.h"

namespace {

using namespace tallo;
using cp1251::operator""_cp;

constexpr int kExitClean = 0;
constexpr int kExitErrors = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "Usage:\n"
    "  tallo-run run --database DB [--user USER] [--engine PATH] [--settings INI] SCRIPT\n"
    "  tallo-run version --database DB [--user USER] [--engine PATH] [--settings INI]\n"
    "  tallo-run pack FILE\n"
    "  tallo-run unpack FILE\n"
    "  tallo-run --help\n"
    "  tallo-run --version\n"
    "\n"
    "run      runs SCRIPT (plain, or packed as .zql) through the script engine and saves the\n"
    "         protocol beside it (Result.txt, or packed Result.Zxt); prints the outcome and the\n"
    "         engine's MSG: texts\n"
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
    "\n"
    "The password is read from the environment variable TALLO_PASSWORD, or asked for without\n"
    "echo when standard input is a terminal; it is never taken from the command line.\n"
    "Progress is shown on standard error when it is a terminal.\n"
    "\n"
    "Exit codes: 0 the script ran without errors (or the version was read); 1 the engine\n"
    "reported errors (or no version could be read); 2 a usage or file error.\n";

// The command line asks for something that cannot be done as asked (exit
// code 2, with a pointer to --help).
class UsageError : public Failure {
  public:
    using Failure::Failure;
};

struct Options {
    std::string command;
    std::string database;
    std::string user = "SYSDBA";
    std::string engine;
    std::string settings;
    std::vector<std::string> operands;
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
            return arg == s || arg == l || arg.rfind(std::string(l) + "=", 0) == 0;
        };
        auto value = [&]() -> std::string {
            std::size_t eq = arg.find('=');
            if (arg.rfind("--", 0) == 0 && eq != std::string::npos)
                return arg.substr(eq + 1);
            if (i + 1 >= argc)
                throw UsageError("option " + arg + " needs a value");
            return argv[++i];
        };
        if (is("-d", "--database")) {
            o.database = value();
        } else if (is("-u", "--user")) {
            o.user = value();
        } else if (is("-e", "--engine")) {
            o.engine = value();
        } else if (is("-s", "--settings")) {
            o.settings = value();
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
    if (database_command && o.database.empty())
        throw UsageError(o.command + " needs --database DB");
    return o;
}

// The terminal's mode while the password is typed without echo; restored on
// every way out, an interrupt included.
termios g_saved_mode{};
volatile std::sig_atomic_t g_mode_saved = 0;

extern "C" void RestoreTerminalAndDie(int signal) {
    if (g_mode_saved)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved_mode);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::string PromptPassword() {
    // Echo goes off before the prompt shows, so nothing typed after it is
    // ever echoed or thrown away.
    if (::tcgetattr(STDIN_FILENO, &g_saved_mode) == 0) {
        g_mode_saved = 1;
        std::signal(SIGINT, RestoreTerminalAndDie);
        std::signal(SIGTERM, RestoreTerminalAndDie);
        std::signal(SIGHUP, RestoreTerminalAndDie);
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
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
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

// The database text: an alias of [Databases] gives its value, anything else
// is a path or connection string as written.
std::string ResolveDatabase(const Options& o) {
    std::string path = o.settings.empty() ? SettingsPath() : o.settings;
    if (!o.settings.empty() && !platform::FileExists(path))
        throw UsageError("settings file not found: " + path);
    TSettingsReader reader(path);
    std::vector<std::string> aliases;
    reader.ListKeys("Databases", aliases);
    std::string typed = cli::FromTerminal(o.database);
    for (const auto& alias : aliases) {
        if (alias.empty() || !(cp1251::EqualNoCase(alias, typed) || cp1251::EqualNoCase(alias, o.database)))
            continue;
        std::string value = reader.GetValue("Databases", alias, "");
        if (value.empty())
            throw UsageError("the alias " + o.database + " names no database in " + path);
        return value;
    }
    return o.database;
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
    std::string script_text;
    script::RunOutcome outcome;
    try {
        outcome = script::RunScript(request, engine.entry, script_text, console);
    } catch (const script_encoding::EncodingFailure& e) {
        // Refused before anything ran: the script's own fault, like an
        // engine error.
        console.EndStatusLine();
        std::fprintf(stderr, "tallo-run: %s\n", cli::ToTerminal(e.message()).c_str());
        return kExitErrors;
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
        return kExitErrors;
    return saved ? kExitClean : kExitUsage;
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
    std::string script_text;
    const script::VersionOutcome outcome =
        script::ReadVersion(RequestFor(o, {}), engine.entry, script_text, console);
    console.EndStatusLine();
    if (!outcome.version.empty()) {
        std::string version = outcome.version;
        while (!version.empty() && (version.back() == '\n' || version.back() == '\r'))
            version.pop_back();
        std::printf("%s\n", cli::ToTerminal(version).c_str());
        return kExitClean;
    }
    std::printf("%s\n", cli::ToTerminal(script::NoVersionText()).c_str());
    std::fflush(stdout);
    // The window keeps the engine's reasons to itself; here they help.
    PrintEngineErrors(outcome.errors);
    return kExitErrors;
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
