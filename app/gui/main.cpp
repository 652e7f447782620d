// The tool's entry: the application object, the main window, the event loop.
#include <time.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/base/platform.h"
#include "app/commands/pack_commands.h"
#include "app/gui/form1.h"
#include "app/gui/look.h"
#include "app/gui/script_commands.h"
#include "app/startup/startup.h"
#include "dbselect/dbselect_dialog.h"

namespace {

using tallo::gui::TForm1;

// For the start-up benchmark only: with TALLO_STARTUP_BENCH set to the
// CLOCK_MONOTONIC time of the process start in nanoseconds, the tool prints
// the milliseconds until the main window has painted first, and ends.
// (The panels cover the whole window, so the first paint is one of a control.)
class FirstPaintProbe : public QObject {
  public:
    FirstPaintProbe(QWidget* window, long long start_ns) : window_(window), start_ns_(start_ns) {
        qApp->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!done_ && event->type() == QEvent::Paint && widget != nullptr && widget->window() == window_) {
            done_ = true;
            QTimer::singleShot(0, [this] {
                timespec now{};
                clock_gettime(CLOCK_MONOTONIC, &now);
                long long ns = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
                std::printf("%.3f\n", static_cast<double>(ns - start_ns_) / 1e6);
                std::fflush(stdout);
                window_->close();
                QCoreApplication::quit();
            });
        }
        return false;
    }

  private:
    QWidget* window_;
    long long start_ns_;
    bool done_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    tallo::platform::EnsureStandardDescriptors();
    QApplication app(argc, argv);
    tallo::gui::ApplyLook(app);

    tallo::EngineBinding engine;
    std::string script_text;  // ScriptText
    tallo::gui::TForm1Handlers handlers;
    handlers.FormCreate = [&engine](TForm1& form) { tallo::FormCreate(form, engine); };
    handlers.FormDestroy = [&engine](TForm1&) { tallo::FormDestroy(engine); };
    handlers.AZipFileExecute = [](TForm1& form) { tallo::AZipFileExecute(form); };
    handlers.AUnzipFileExecute = [](TForm1& form) { tallo::AUnzipFileExecute(form); };
    handlers.btSelectDBClick = [](TForm1& form) { tallo::gui::SelectDatabaseForWindow(form, &form); };
    tallo::gui::WireScriptCommands(handlers, engine, script_text);

    TForm1 form(std::move(handlers));
    std::unique_ptr<FirstPaintProbe> probe;
    if (const char* start = std::getenv("TALLO_STARTUP_BENCH")) {
        probe = std::make_unique<FirstPaintProbe>(&form, std::atoll(start));
    }
    form.show();
    return app.exec();
}
