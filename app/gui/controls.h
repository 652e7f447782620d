// The controls of the main window that Qt has no exact counterpart for.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QValidator>
#include <QWidget>
#include <functional>

namespace tallo::gui {

// A panel with a raised outer and a lowered inner bevel (one pixel each, or
// none) and one line of centred text: the first line of its text.
class Panel : public QWidget {
    Q_OBJECT
  public:
    Panel(bool bevelled, QWidget* parent);
    void setText(const QString& text);
    QString text() const { return text_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool bevelled_;
    QString text_;
};

// A single-line edit field. Escape in an editable field brings back the text
// it had when the focus entered it (or that the program set since) and
// selects it all. Alt+Down runs the field's drop-down handler when it has one.
class Edit : public QLineEdit {
    Q_OBJECT
  public:
    explicit Edit(QWidget* parent);
    // Text set by the program: it is also the text Escape brings back.
    void SetProgramText(const QString& text);
    void SetAltDownHandler(std::function<void()> handler) { alt_down_ = std::move(handler); }

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QString entry_text_;
    std::function<void()> alt_down_;
};

// Turns every letter typed or pasted into its upper-case form.
class UpperCaseValidator : public QValidator {
    Q_OBJECT
  public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

// The ellipsis button inside the right end of an edit field.
class EllipsisButton : public QToolButton {
    Q_OBJECT
  public:
    explicit EllipsisButton(Edit* field);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Place();
    Edit* field_;
};

// A label whose double-click runs a handler.
class ClickLabel : public QLabel {
    Q_OBJECT
  public:
    ClickLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}
  signals:
    void doubleClicked();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

}  // namespace tallo::gui
