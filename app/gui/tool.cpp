#include "app/gui/tool.h"

#include <QApplication>
#include <string>

#include "app/commands/pack_commands.h"
#include "app/gui/script_commands.h"
#include "app/look/look.h"
#include "app/startup/startup.h"
#include "base/platform.h"
#include "dbselect/dbselect_dialog.h"

namespace tallo::gui {

int RunTool(int argc, char** argv, const std::function<void(TForm1&)>& shown) {
    platform::EnsureStandardDescriptors();
    QApplication app(argc, argv);
    ApplyLook(app);

    EngineBinding engine;
    std::string script_text;  // ScriptText
    TForm1Handlers handlers;
    handlers.FormCreate = [&engine](TForm1& form) { FormCreate(form, engine); };
    handlers.FormDestroy = [&engine](TForm1&) { FormDestroy(engine); };
    handlers.AZipFileExecute = [](TForm1& form) { AZipFileExecute(form); };
    handlers.AUnzipFileExecute = [](TForm1& form) { AUnzipFileExecute(form); };
    handlers.btSelectDBClick = [](TForm1& form) { SelectDatabaseForWindow(form, &form); };
    WireScriptCommands(handlers, engine, script_text);

    TForm1 form(std::move(handlers));
    if (shown)
        shown(form);
    form.show();
    return app.exec();
}

}  // namespace tallo::gui
