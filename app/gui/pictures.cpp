#include "app/gui/pictures.h"

#include <QBitmap>
#include <QImage>

// Resources of a static library are registered on first use.
static void InitTalloGuiResources() {
    Q_INIT_RESOURCE(tallo_gui);
}

namespace tallo::gui {

namespace {
void EnsureResources() {
    static const bool done = (InitTalloGuiResources(), true);
    (void)done;
}
}  // namespace

QPixmap PictureA() {
    EnsureResources();
    return QPixmap(QStringLiteral(":/tallo/picture_a.xpm"));
}

QPixmap PictureB() {
    EnsureResources();
    return QPixmap(QStringLiteral(":/tallo/picture_b.xpm"));
}

QIcon PictureAIcon() {
    return QIcon(PictureA());
}

QIcon PictureBIcon() {
    QPixmap both = PictureB();
    QIcon icon;
    icon.addPixmap(both.copy(0, 0, 16, 16), QIcon::Normal);
    icon.addPixmap(both.copy(16, 0, 16, 16), QIcon::Disabled);
    return icon;
}

QCursor SqlWaitCursor() {
    EnsureResources();
    // Black and white with a transparent surround: a bitmap of the black
    // pixels and a mask of every painted pixel.
    QImage image(QStringLiteral(":/tallo/sql_wait_cursor.xpm"));
    image = image.convertToFormat(QImage::Format_ARGB32);
    QImage bits(image.size(), QImage::Format_MonoLSB);
    QImage mask(image.size(), QImage::Format_MonoLSB);
    bits.fill(0);
    mask.fill(0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            QRgb p = image.pixel(x, y);
            if (qAlpha(p) == 0)
                continue;
            mask.setPixel(x, y, 1);
            if (qGray(p) < 128)
                bits.setPixel(x, y, 1);
        }
    }
    return QCursor(QBitmap::fromImage(bits), QBitmap::fromImage(mask), 0, 0);
}

}  // namespace tallo::gui
