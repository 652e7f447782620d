#include "app/gui/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "app/look/codec.h"
#include "base/platform.h"
#include "base/text_rules.h"

namespace tallo::gui {

namespace {

QString BoxText(const std::string& text) {
    QString shown = FromCp1251(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

// Boxes have no parent: they are centred on the screen and block every
// window of the application while they wait.
void Prepare(QMessageBox& box, const QString& caption, const std::string& text) {
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(BoxText(text));
    box.setWindowModality(Qt::ApplicationModal);
}

}  // namespace

const std::string& AppTitle() {
    static const std::string title = ApplicationTitle(platform::ExecutablePath());
    return title;
}

void InformationBox(const std::string& text) {
    QMessageBox box;
    Prepare(box, FromCp1251(AppTitle()), text);
    box.setIcon(QMessageBox::NoIcon);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

bool ErrorYesNoBox(const std::string& text) {
    QMessageBox box;
    Prepare(box, QStringLiteral("Error"), text);
    box.setIcon(QMessageBox::Critical);
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void StandardErrorBox(const std::string& message) {
    QMessageBox box;
    Prepare(box, FromCp1251(AppTitle()), StandardErrorText(message));
    box.setIcon(QMessageBox::Critical);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

}  // namespace tallo::gui
