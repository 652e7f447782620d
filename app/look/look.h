// The classic look of the tool: Qt's "Windows" style, the design font, the
// system colours, and Russian texts for Qt's own dialogs.
#pragma once

#include <QFont>
#include <QString>

class QApplication;

namespace tallo::gui {

// "MS Sans Serif" where it is installed, else Liberation Sans; sized in
// pixels so that the layout, designed at 96 pixels per inch, holds on any
// screen. pixel_size 11 is the window font (8 point), 13 the dialog font.
QFont DesignFont(int pixel_size);
// The family DesignFont picks.
QString DesignFontFamily();

// Style, palette, font and Qt's Russian translations for the application.
void ApplyLook(QApplication& app);

}  // namespace tallo::gui
