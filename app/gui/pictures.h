// The pictures that ship with the window: picture A (the run and the
// database buttons), picture B (the version button, enabled and disabled
// images side by side) and the SQL-wait cursor.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>

namespace tallo::gui {

QPixmap PictureA();       // 14 x 15
QPixmap PictureB();       // 32 x 16: enabled image, disabled image
QIcon PictureAIcon();     // Qt greys it for a disabled button
QIcon PictureBIcon();     // the two halves of picture B as normal and disabled
QCursor SqlWaitCursor();  // 32 x 32 monochrome, hot spot at the top-left pixel

}  // namespace tallo::gui
