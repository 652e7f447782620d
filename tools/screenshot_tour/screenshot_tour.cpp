// Shows the main window, the database selection dialog and the Yes/No
// question one after the other and captures the screen at each step with
// ImageMagick's "import" (run under Xvfb with a window manager; see
// screenshots.sh). Usage: tallo_screenshot_tour <output folder> <settings file>
// [script]: with a script, the tour also runs it through the engine
// "IBEScript.dll" of the current directory against the settings' database and
// captures the outcome.
#include <QApplication>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "app/gui/form1.h"
#include "app/look/codec.h"
#include "app/look/look.h"
#include "app/startup/startup.h"
#include "dbselect/dbselect_dialog.h"
#include "script/run.h"
#include "script/script_run.h"
#include "text/win1251.h"

using namespace tallo;
using cp1251::operator""_cp;

namespace {

QString g_out;

void Capture(const QString& name) {
    QApplication::processEvents();
    QProcess::execute(QStringLiteral("import"),
                      {QStringLiteral("-window"), QStringLiteral("root"), g_out + QLatin1Char('/') + name});
    std::printf("captured %s\n", qPrintable(name));
}

// Waits until a modal box is up, captures it, then closes it.
void CaptureModal(const QString& name) {
    QTimer::singleShot(700, [name] {
        Capture(name);
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    g_out = QString::fromLocal8Bit(argv[1]);
    const std::string settings = argv[2];
    gui::ApplyLook(app);

    gui::TForm1Handlers handlers;
    EngineBinding engine;
    std::string script_text;
    const bool run_script = argc > 3;
    if (run_script) {
        handlers.FormCreate = [&engine, settings](gui::TForm1& form) { FormCreate(form, engine, settings); };
        handlers.FormDestroy = [&engine](gui::TForm1&) { FormDestroy(engine); };
        handlers.aExecScriptExecute = [&engine, &script_text](gui::TForm1& form) {
            script::aExecScriptExecute(form, engine, script_text);
        };
    } else
        handlers.FormCreate = [](gui::TForm1& form) {
            form.SetText(Field::eDBName, "Main");
            form.SetText(Field::eDB, "/srv/data/main.fdb");
            form.SetText(Field::Panel3, "Скрипт выполнен без ошибок\r\nвторая строка"_cp);
        };
    handlers.btSelectDBClick = [settings](gui::TForm1& form) {
        gui::TfmDBSelect dialog(form, &form);
        btSelectDBClick(form, dialog, settings);
    };
    gui::TForm1 form(std::move(handlers));
    form.show();

    if (run_script) {
        const std::string script = argv[3];
        QTimer::singleShot(800, [&form, script] {
            form.SetText(Field::eScript, script);
            Capture(QStringLiteral("run_before.png"));
            CaptureModal(QStringLiteral("run_outcome.png"));
            form.SpeedButton1->click();
            Capture(QStringLiteral("run_after.png"));
            std::printf("status: %s\n", qPrintable(form.Panel3->text()));
            form.close();
        });
        return app.exec();
    }
    QTimer::singleShot(800, [&form] {
        Capture(QStringLiteral("main_window.png"));
        form.ePassw->setText(QStringLiteral("secret"));
        form.SetExecScriptEnabled(false);
        Capture(QStringLiteral("main_window_run_disabled.png"));
        form.SetExecScriptEnabled(true);
        CaptureModal(QStringLiteral("select_dialog.png"));
        form.btSelectDB->click();
        CaptureModal(QStringLiteral("yes_no_box.png"));
        // The file system's name (UTF-8 here), as the run asks about it.
        form.AskErrorYesNo(script::ProtocolRetryQuestion("/home/оператор/Скрипты/Result.txt"));
        CaptureModal(QStringLiteral("error_box.png"));
        form.ShowStandardError("Cannot open file \"/tmp/x.sql\". No such file or directory");
        CaptureModal(QStringLiteral("open_dialog.png"));
        form.eScriptButton->click();
        form.SetCursorValue(kCursorSqlWait);
        QCursor::setPos(form.mapToGlobal(QPoint(200, 150)));
        Capture(QStringLiteral("sql_wait_cursor.png"));
        form.SetCursorValue(kCursorDefault);
        form.close();
    });
    return app.exec();
}
