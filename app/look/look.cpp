#include "app/look/look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QTranslator>

namespace tallo::gui {

namespace {

// The Windows style with the few hints the tool's controls rely on.
class TalloStyle : public QProxyStyle {
  public:
    explicit TalloStyle(QStyle* base) : QProxyStyle(base) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        switch (hint) {
            case SH_LineEdit_PasswordCharacter:
                return '*';
            case SH_DialogButtonLayout:
                return 0;  // QDialogButtonBox::WinLayout: "&Yes" before "&No"
            case SH_MessageBox_CenterButtons:
                return 1;
            case SH_MessageBox_TextInteractionFlags:
                return Qt::NoTextInteraction;
            default:
                return QProxyStyle::styleHint(hint, option, widget, data);
        }
    }
};

}  // namespace

QString DesignFontFamily() {
    static const QString family = [] {
        const QString classic = QStringLiteral("MS Sans Serif");
        return QFontDatabase::families().contains(classic, Qt::CaseInsensitive)
                   ? classic
                   : QStringLiteral("Liberation Sans");
    }();
    return family;
}

QFont DesignFont(int pixel_size) {
    QFont font(DesignFontFamily());
    font.setPixelSize(pixel_size);
    font.setStyleHint(QFont::SansSerif);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

void ApplyLook(QApplication& app) {
    QStyle* base = QStyleFactory::create(QStringLiteral("Windows"));
    auto* style = new TalloStyle(base);
    QApplication::setStyle(style);  // the application takes ownership
    QApplication::setPalette(style->standardPalette());
    QApplication::setFont(DesignFont(11));

    // Qt's own dialogs (the file choice) speak Russian.
    auto* qt_texts = new QTranslator(&app);
    if (qt_texts->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                       QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(qt_texts);
    }
}

}  // namespace tallo::gui
