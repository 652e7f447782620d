// Times the INSERT script of the engine benchmark (CREATE TABLE, N single-row
// INSERTs with Windows-1251 text, COMMIT) two ways in one run, each into a
// fresh embedded database:
//   window  the whole run command of the main window, offscreen: the engine
//           loaded by FormCreate from the current directory, the script read
//           from its file, the status line set and repainted through the
//           callbacks, the protocol saved beside the script, until the
//           outcome box appears;
//   engine  the same text (connect header and script) handed to the engine's
//           entry directly, with callbacks that only count.
// Prints the best of five rounds of each and the window's ratio to the
// engine alone. With --script, runs that script file once through the
// window into the database given (for the memory benchmark) and prints the
// time.
//   bench_window_run [--statements N] [--script FILE --database DB]
#include <dlfcn.h>
#include <fcntl.h>
#include <firebird/Interface.h>
#include <ibase.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/gui/form1.h"
#include "app/gui/script_commands.h"
#include "app/look/codec.h"
#include "app/startup/startup.h"
#include "script/engine_binding.h"
#include "script/run.h"

// The workload, its script, the counting callbacks and the engine's loading
// come from the engine benchmark itself.
#define main bench_engine_fb_main
#include "bench/engine_fb/bench_engine_fb.cpp"
#undef main

namespace {

// The engine benchmark's script without its first two lines (SET NAMES and
// CONNECT), creating its table first: the window puts its own connect
// header in front.
std::string ScriptBody(const Workload& w) {
    const std::string text = ScriptText(w, "unused.fdb");
    std::size_t first = text.find('\n');
    std::size_t second = text.find('\n', first + 1);
    return w.create_table + ";\n" + text.substr(second + 1);
}

void CreateDatabase(TalloExecScriptTextFn entry, const std::string& path) {
    RunEngine(entry, "CREATE DATABASE '" + path + "' USER 'SYSDBA' PASSWORD 'masterkey';");
}

// Notes when the outcome box appears and closes it.
class OutcomeBox : public QObject {
  public:
    OutcomeBox() { qApp->installEventFilter(this); }
    ~OutcomeBox() override { qApp->removeEventFilter(this); }

    std::optional<Clock::time_point> shown;
    std::string text;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box != nullptr && event->type() == QEvent::Show && !shown) {
            shown = Clock::now();
            text = tallo::gui::ToCp1251(box->text());
            QTimer::singleShot(0, box, [box] { box->close(); });
        }
        return false;
    }
};

double RunWindow(tallo::gui::TForm1& form, const std::string& script, const std::string& database) {
    form.SetText(tallo::Field::eDB, database);
    form.SetText(tallo::Field::eScript, script);
    OutcomeBox box;
    auto start = Clock::now();
    form.SpeedButton1->click();
    if (!box.shown)
        throw std::runtime_error("the window showed no outcome");
    if (box.text != tallo::script::SuccessText())
        throw std::runtime_error("the window's run failed; see " + script.substr(0, script.rfind('/')) +
                                 "/Result.txt");
    return std::chrono::duration<double>(*box.shown - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    int count = 20000;
    std::string one_script, one_database;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--statements") && i + 1 < argc) {
            count = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--script") && i + 1 < argc) {
            one_script = std::filesystem::absolute(argv[++i]).string();
        } else if (!std::strcmp(argv[i], "--database") && i + 1 < argc) {
            one_database = std::filesystem::absolute(argv[++i]).string();
        } else {
            std::fprintf(stderr, "usage: %s [--statements N] [--script FILE --database DB]\n", argv[0]);
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    try {
        // The window's folder: the engine and "Tallo-3.ini"; the current
        // directory, as the tool is started.
        Folder work;
        std::filesystem::create_symlink(TALLO_ENGINE_LIBRARY, work.path + "/IBEScript.dll");
        const std::string ini = work.path + "/Tallo-3.ini";
        std::ofstream(ini, std::ios::binary)
            << "[System]\r\nSelectedDatabase=Bench\r\nDatabase=" << work.path << "/none.fdb\r\n";
        if (::chdir(work.path.c_str()) != 0)
            throw std::runtime_error("cannot enter " + work.path);

        tallo::EngineBinding engine;
        std::string script_text;
        tallo::gui::TForm1Handlers handlers;
        handlers.FormCreate = [&](tallo::gui::TForm1& form) { tallo::FormCreate(form, engine, ini); };
        handlers.FormDestroy = [&](tallo::gui::TForm1&) { tallo::FormDestroy(engine); };
        tallo::gui::WireScriptCommands(handlers, engine, script_text);
        tallo::gui::TForm1 form(std::move(handlers));
        form.show();
        form.SetText(tallo::Field::eUserName, "SYSDBA");
        form.SetText(tallo::Field::ePassw, "masterkey");
        if (!form.aExecScript->isEnabled())
            throw std::runtime_error("the window did not load the engine");
        if (!one_script.empty()) {
            std::printf("window run of %s: %.3f s\n", one_script.c_str(),
                        RunWindow(form, one_script, one_database));
            return 0;
        }

        const Workload w = Generate(count, Kind::Insert);
        const std::string body = ScriptBody(w);
        const std::string script = work.path + "/bench.sql";
        std::ofstream(script, std::ios::binary) << body;
        auto entry = LoadEngine();

        constexpr int kRounds = 5;
        std::vector<double> window_times, engine_times;
        std::size_t protocol_size = 0;
        long engine_callbacks = 0;
        for (int round = 0; round < kRounds; ++round) {
            Folder dir;
            const std::string window_db = dir.path + "/window.fdb";
            const std::string engine_db = dir.path + "/engine.fdb";
            CreateDatabase(entry, window_db);
            CreateDatabase(entry, engine_db);
            auto window_round = [&] {
                window_times.push_back(RunWindow(form, script, window_db));
                protocol_size = std::filesystem::file_size(work.path + "/Result.txt");
            };
            auto engine_round = [&] {
                const std::string text =
                    tallo::script::ConnectHeader(engine_db, "SYSDBA", "masterkey") + body;
                engine_times.push_back(RunEngine(entry, text).wall);
                engine_callbacks = g_callbacks;
            };
            // Alternate who goes first, so neither always meets a warm cache.
            if (round % 2 == 0) {
                window_round();
                engine_round();
            } else {
                engine_round();
                window_round();
            }
        }
        auto best = [](std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
        const double win = best(window_times), eng = best(engine_times);
        std::printf("Script run, %zu INSERTs into a fresh embedded database (best of %d):\n",
                    w.statements.size(), kRounds);
        std::printf("  window (offscreen, whole run command)  %7.3f s   protocol %zu bytes\n", win,
                    protocol_size);
        std::printf("  engine alone (exported entry)          %7.3f s   %ld callbacks\n", eng,
                    engine_callbacks);
        std::printf("  window / engine alone                  %7.2fx   (goal <= 1.15x)\n", win / eng);
        if (::chdir("/") != 0)
            throw std::runtime_error("cannot leave " + work.path);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_window_run: %s\n", e.what());
        return 1;
    }
    return 0;
}
