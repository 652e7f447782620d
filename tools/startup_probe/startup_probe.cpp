// The tool with a probe for the start-up benchmark (bench/startup): with
// TALLO_STARTUP_BENCH set to the CLOCK_MONOTONIC time of the process start in
// nanoseconds, it prints the milliseconds until the main window has painted
// first, and ends. Without it, it is the tool as it is.
#include <time.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/gui/tool.h"

namespace {

using tallo::gui::TForm1;

// Prints the milliseconds from start_ns (CLOCK_MONOTONIC, nanoseconds) until
// the main window has painted first, then ends the tool.
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
    std::unique_ptr<FirstPaintProbe> probe;
    const char* start = std::getenv("TALLO_STARTUP_BENCH");
    return tallo::gui::RunTool(argc, argv, [&probe, start](TForm1& form) {
        if (start != nullptr)
            probe = std::make_unique<FirstPaintProbe>(&form, std::atoll(start));
    });
}
