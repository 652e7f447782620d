// The tool's entry.
#include "app/gui/tool.h"

int main(int argc, char** argv) {
    return tallo::gui::RunTool(argc, argv);
}
