#include "app/gui/script_choice.h"

#include "text/win1251.h"

namespace tallo {

using cp1251::operator""_cp;

void eScriptEditButtons0Click(WindowServices& window, bool& handled) {
    handled = true;
    OpenFileDialog& od = window.OD();
    od.filter = "Script Files|*.?ql|All Files (*.*)|*.*";
    od.title = "Выберите скрипт для выполнения"_cp;
    od.filter_index = 1;
    if (window.ExecuteOD())
        window.SetText(Field::eScript, window.OD().file_name);
}

}  // namespace tallo
