// tallo-run: the tool's commands without a window, for deployment scripts,
// CI pipelines and servers reached over SSH.
#include <termios.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/platform.h"
#include "base/win1251.h"
#include "console_services.h"
#include "packing/pack_commands.h"
#include "script/run.h"
#include "settings/settings.h"
#include "startup/startup.h"

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
    "\n"
    "run      runs SCRIPT (plain, or packed as .zql) through the script engine and saves the\n"
    "         protocol beside it (Result.txt, or packed Result.Zxt)\n"
    "version  prints the version recorded in the database's db_version table\n"
    "pack     packs FILE (upd.sql -> upd.Zql, upd.txt -> upd.Zxt)\n"
    "unpack   unpacks FILE (upd.Zql -> upd.sql, anything else -> .txt)\n"
    "\n"
    "Options:\n"
    "  -d, --database DB   database path or connection string (host:path), or an alias of the\n"
    "                      [Databases] section of Tallo-3.ini\n"
    "  -u, --user USER     user name (default SYSDBA); upper-cased as the window does\n"
    "  -e, --engine PATH   script engine library (default: IBEScript.dll in the current directory)\n"
    "  -s, --settings INI  settings file (default: Tallo-3.ini beside tallo-run)\n"
    "\n"
    "The password is read from the environment variable TALLO_PASSWORD, or asked for without\n"
    "echo when standard input is a terminal; it is never taken from the command line.\n"
    "\n"
    "Exit codes: 0 the script ran without errors, 1 the engine reported errors (or no version\n"
    "could be read), 2 a usage or file error.\n";

struct UsageError {
    std::string message;
};

struct Options {
    std::string command;
    std::string database;
    std::string user = "SYSDBA";
    std::string engine = TALLO_ENGINE_FILE_NAME;
    std::string settings;
    std::vector<std::string> operands;
};

Options Parse(int argc, char** argv) {
    Options o;
    if (argc < 2)
        throw UsageError{"no command given"};
    o.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> std::string {
            std::string n = name;
            if (arg.size() > n.size() && arg.compare(0, n.size() + 1, n + "=") == 0)
                return arg.substr(n.size() + 1);
            if (i + 1 >= argc)
                throw UsageError{"option " + arg + " needs a value"};
            return argv[++i];
        };
        auto is = [&](const char* s, const char* l) {
            return arg == s || arg == l || arg.rfind(std::string(l) + "=", 0) == 0;
        };
        if (is("-d", "--database")) {
            o.database = value("--database");
        } else if (is("-u", "--user")) {
            o.user = value("--user");
        } else if (is("-e", "--engine")) {
            o.engine = value("--engine");
        } else if (is("-s", "--settings")) {
            o.settings = value("--settings");
        } else if (arg == "--password" || arg.rfind("--password=", 0) == 0 || arg == "-p") {
            throw UsageError{
                "the password is not taken from the command line (it would show in the process "
                "list); set TALLO_PASSWORD or type it at the prompt"};
        } else if (arg == "--") {
            for (++i; i < argc; ++i)
                o.operands.push_back(argv[i]);
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            throw UsageError{"unknown option " + arg};
        } else {
            o.operands.push_back(arg);
        }
    }
    return o;
}

std::string ReadPassword() {
    if (const char* env = std::getenv("TALLO_PASSWORD"))
        return env;
    if (!::isatty(STDIN_FILENO))
        return {};
    std::fputs("Password: ", stderr);
    std::fflush(stderr);
    termios old_mode{};
    bool restore = ::tcgetattr(STDIN_FILENO, &old_mode) == 0;
    if (restore) {
        termios quiet = old_mode;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string password;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        password += static_cast<char>(c);
    if (restore)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old_mode);
    std::fputs("\n", stderr);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return password;
}

// The database text: an alias of [Databases] gives its value, anything else
// is a path or connection string as written.
std::string ResolveDatabase(const Options& o) {
    if (o.database.empty())
        throw UsageError{"--database is required"};
    std::string path = o.settings.empty() ? SettingsPath() : o.settings;
    if (!o.settings.empty() && !platform::FileExists(path))
        throw UsageError{"settings file not found: " + path};
    TSettingsReader reader(path);
    std::vector<std::string> aliases;
    reader.ListKeys("Databases", aliases);
    for (const auto& alias : aliases) {
        if (!alias.empty() && cp1251::EqualNoCase(alias, o.database)) {
            std::string value = reader.GetValue("Databases", o.database, "");
            if (value.empty())
                throw UsageError{"the alias " + alias + " has no database in " + path};
            return value;
        }
    }
    return o.database;
}

void LoadEngine(const Options& o, EngineBinding& engine) {
    if (!platform::FileExists(o.engine)) {
        throw UsageError{"script engine not found: " + o.engine +
                         (o.engine == TALLO_ENGINE_FILE_NAME
                              ? " (looked in the current directory; use --engine PATH)"
                              : "")};
    }
    std::string error;
    engine.library = platform::Library::Load(o.engine, &error);
    engine.entry = reinterpret_cast<TalloExecScriptTextFn>(engine.library.Symbol(TALLO_ENGINE_ENTRY_NAME));
    if (!engine.entry) {
        throw UsageError{"cannot use the script engine " + o.engine +
                         (error.empty() ? ": no entry " TALLO_ENGINE_ENTRY_NAME : ": " + error)};
    }
}

void FillWindow(cli::ConsoleServices& console, const Options& o) {
    console.SetText(Field::eDB, ResolveDatabase(o));
    console.SetText(Field::eUserName, cp1251::Upper(o.user));
    console.SetText(Field::ePassw, ReadPassword());
}

int Run(const Options& o) {
    if (o.operands.size() != 1)
        throw UsageError{"run takes exactly one SCRIPT"};
    const std::string& script = o.operands[0];
    if (!platform::FileExists(script))
        throw UsageError{"script file not found: " + script};
    cli::ConsoleServices console(stdout, stderr, ::isatty(STDIN_FILENO) != 0);
    EngineBinding engine;
    LoadEngine(o, engine);
    FillWindow(console, o);
    console.SetText(Field::eScript, script);
    std::string script_text;
    script::aExecScriptExecute(console, engine, script_text);
    if (script_text.empty())
        throw UsageError{"the script file is empty: nothing was run"};
    return TheRunState().ScriptFailed ? kExitErrors : kExitClean;
}

int Version(const Options& o) {
    if (!o.operands.empty())
        throw UsageError{"version takes no operands"};
    cli::ConsoleServices console(stdout, stderr, ::isatty(STDIN_FILENO) != 0);
    EngineBinding engine;
    LoadEngine(o, engine);
    FillWindow(console, o);
    std::string script_text;
    script::DBVersionBitBtnClick(console, engine, script_text);
    std::string status = console.Text(Field::Panel3);
    console.EndStatusLine();
    std::string prefix = "Версия БД: "_cp;
    if (status.rfind(prefix, 0) == 0) {
        std::string version = status.substr(prefix.size());
        while (!version.empty() && (version.back() == '\n' || version.back() == '\r'))
            version.pop_back();
        std::printf("%s\n", cli::ToTerminal(version).c_str());
        return kExitClean;
    }
    std::printf("%s\n", cli::ToTerminal(status).c_str());
    return kExitErrors;
}

int PackOrUnpack(const Options& o, bool pack) {
    if (o.operands.size() != 1)
        throw UsageError{o.command + " takes exactly one FILE"};
    cli::ConsoleServices console(stdout, stderr, false);
    console.AnswerFileChoice(o.operands[0]);
    if (pack) {
        AZipFileExecute(console);
        std::printf("%s\n", PackedNameFor(o.operands[0]).c_str());
    } else {
        AUnzipFileExecute(console);
        std::printf("%s\n", UnpackedNameFor(o.operands[0]).c_str());
    }
    return kExitClean;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    try {
        if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                          std::strcmp(argv[1], "help") == 0)) {
            std::fputs(kUsage, stdout);
            return kExitClean;
        }
        Options o = Parse(argc, argv);
        if (o.command == "run")
            return Run(o);
        if (o.command == "version")
            return Version(o);
        if (o.command == "pack")
            return PackOrUnpack(o, true);
        if (o.command == "unpack")
            return PackOrUnpack(o, false);
        throw UsageError{"unknown command " + o.command};
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tallo-run: %s\nTry 'tallo-run --help'.\n", e.message.c_str());
        return kExitUsage;
    } catch (const Failure& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "tallo-run: %s\n", cli::ToTerminal(e.message()).c_str());
        return kExitUsage;
    }
}
