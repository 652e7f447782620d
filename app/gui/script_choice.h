// The script file choice of the main window (the ellipsis button of eScript
// and Alt+Down in it).
#pragma once

#include "script/window_services.h"

namespace tallo {

// Sets handled, then shows OD with the script filter, its title and the
// "Script Files" entry preselected; a confirmed name goes into eScript.
void eScriptEditButtons0Click(WindowServices& window, bool& handled);

}  // namespace tallo
