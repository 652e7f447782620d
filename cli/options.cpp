#include "cli/options.h"

#include <cstdlib>

#include "app/settings/settings.h"
#include "base/platform.h"
#include "cli/console_view.h"
#include "text/letter_case.h"
#include "text/win1251.h"

namespace tallo::cli {

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

namespace {

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

// The password as the window would send it: Windows-1251.
std::string ReadPassword() {
    if (const char* env = std::getenv("TALLO_PASSWORD"))
        return FromTerminal(env);
    if (!platform::IsTerminal(stdin))
        return {};
    return FromTerminal(PromptPassword());
}

}  // namespace

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

std::string PromptPassword() {
    std::string password = platform::ReadLineWithoutEcho("Password: ");
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return password;
}

std::string SettingsFile(const Options& o) {
    std::string path = o.settings.empty() ? SettingsPath() : o.settings;
    if (!o.settings.empty() && !platform::FileExists(path))
        throw UsageError("settings file not found: " + path);
    return path;
}

std::string AliasNamed(const Options& o, const std::string& database) {
    TSettingsReader reader(SettingsFile(o));
    std::vector<std::string> aliases;
    reader.ListKeys("Databases", aliases);
    std::string typed = FromTerminal(database);
    for (const auto& alias : aliases) {
        if (!alias.empty() && (cp1251::EqualNoCase(alias, typed) || cp1251::EqualNoCase(alias, database)))
            return alias;
    }
    return {};
}

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

namespace {

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

}  // namespace

script::RunRequest RequestFor(const Options& o, const std::string& script_file) {
    return {ResolveDatabase(o), cp1251::Upper(FromTerminal(o.user)), ReadPassword(), script_file};
}

}  // namespace tallo::cli
