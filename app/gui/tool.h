// The tool as a program: the application object, the main window with its
// handlers wired, the event loop.
#pragma once

#include <functional>

#include "app/gui/form1.h"

namespace tallo::gui {

// Runs the tool; shown, when given, is called with the main window just
// before it is shown. Answers the event loop's exit code.
int RunTool(int argc, char** argv, const std::function<void(TForm1&)>& shown = {});

}  // namespace tallo::gui
