#include "app/gui/controls.h"

#include <QKeyEvent>
#include <QPainter>
#include <QRegularExpression>

namespace tallo::gui {

Panel::Panel(bool bevelled, QWidget* parent) : QWidget(parent), bevelled_(bevelled) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
}

void Panel::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    update();
}

void Panel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect r = rect();
    if (bevelled_) {
        const QPalette& pal = palette();
        auto frame = [&painter](QRect box, const QColor& top_left, const QColor& bottom_right) {
            painter.setPen(top_left);
            painter.drawLine(box.topLeft(), box.topRight());
            painter.drawLine(box.topLeft(), box.bottomLeft());
            painter.setPen(bottom_right);
            painter.drawLine(box.bottomLeft(), box.bottomRight());
            painter.drawLine(box.topRight(), box.bottomRight());
        };
        frame(r, pal.color(QPalette::Light), pal.color(QPalette::Dark));  // raised
        r.adjust(1, 1, -1, -1);
        frame(r, pal.color(QPalette::Dark), pal.color(QPalette::Light));  // lowered
        r.adjust(1, 1, -1, -1);
    }
    if (text_.isEmpty())
        return;
    // Only the first line fits; it stays centred and is cut at both ends.
    qsizetype end = text_.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    QString line = end < 0 ? text_ : text_.left(end);
    painter.setClipRect(r);
    painter.setPen(palette().color(QPalette::WindowText));
    int width = painter.fontMetrics().horizontalAdvance(line);
    QRect text_box(r.left() + (r.width() - width) / 2, r.top(), width, r.height());
    painter.drawText(text_box, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextExpandTabs | Qt::TextSingleLine,
                     line);
}

Edit::Edit(QWidget* parent) : QLineEdit(parent) {}

void Edit::SetProgramText(const QString& text) {
    setText(text);
    entry_text_ = text;
}

void Edit::focusInEvent(QFocusEvent* event) {
    // Focus coming back from a box or a popup is no new entry into the field.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason) {
        entry_text_ = text();
    }
    QLineEdit::focusInEvent(event);
}

void Edit::keyPressEvent(QKeyEvent* event) {
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Escape && mods == Qt::NoModifier && !isReadOnly()) {
        setText(entry_text_);
        selectAll();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Down && mods == Qt::AltModifier && alt_down_) {
        event->accept();
        alt_down_();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

QValidator::State UpperCaseValidator::validate(QString& input, int&) const {
    input = input.toUpper();
    return Acceptable;
}

EllipsisButton::EllipsisButton(Edit* field) : QToolButton(field), field_(field) {
    setText(QStringLiteral("..."));
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    field->installEventFilter(this);
    Place();
}

void EllipsisButton::Place() {
    // Inside the field's frame, as high as the text area, at its right end.
    const int frame = 2;
    const int height = field_->height() - 2 * frame;
    const int width = 18;
    setGeometry(field_->width() - frame - width, frame, width, height);
    field_->setTextMargins(0, 0, width, 0);
}

bool EllipsisButton::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::Resize)
        Place();
    return QToolButton::eventFilter(watched, event);
}

void ClickLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    QLabel::mouseDoubleClickEvent(event);
    emit doubleClicked();
}

}  // namespace tallo::gui
