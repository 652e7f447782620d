// The main window TForm1: its controls, the binding of every control and
// shortcut to its handler, and the window services the logic calls.
#pragma once

#include <QAction>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/gui/controls.h"
#include "script/window_services.h"

namespace tallo::gui {

class TForm1;

// The handlers the window runs. Each receives the window; an empty one does
// nothing. The program wires them to the start-up, script, version, pack and
// selection logic; tests wire their own.
struct TForm1Handlers {
    std::function<void(TForm1&)> FormCreate;
    std::function<void(TForm1&)> FormDestroy;
    std::function<void(TForm1&)> aExecScriptExecute;
    std::function<void(TForm1&)> DBVersionBitBtnClick;
    std::function<void(TForm1&)> AZipFileExecute;
    std::function<void(TForm1&)> AUnzipFileExecute;
    std::function<void(TForm1&)> btSelectDBClick;
    // The operator asks to stop the script run under way: Escape, the close
    // box or Alt+F4 while the window is disabled for the run. Runs once at a
    // time; the window stays open whatever it does.
    std::function<void(TForm1&)> StopScriptRequest;
};

class TForm1 : public QWidget, public WindowServices {
    Q_OBJECT
  public:
    // Builds the window from its layout, then runs FormCreate. A failure of
    // FormCreate goes to the standard error box; the window is still made.
    explicit TForm1(TForm1Handlers handlers, QWidget* parent = nullptr);
    ~TForm1() override;

    // WindowServices.
    std::string Text(Field field) const override;
    void SetText(Field field, const std::string& text) override;
    bool ExecScriptEnabled() const override;
    void SetExecScriptEnabled(bool enabled) override;
    void ShowInformation(const std::string& text) override;
    bool AskErrorYesNo(const std::string& text) override;
    void SetWindowEnabled(bool enabled) override;
    void SetCursorValue(std::int16_t value) override;
    std::int16_t CursorValue() const override { return cursor_value_; }
    void ProcessMessages() override;
    OpenFileDialog& OD() override { return od_; }
    bool ExecuteOD() override;
    void ShowStandardError(const std::string& message) override;

    // Runs a handler as a command of the window: while one command runs no
    // other starts (a second one is dropped), and a failure that leaves the
    // handler is shown in the standard error box. Returns false when dropped.
    bool RunCommand(const std::function<void()>& handler);
    bool CommandRunning() const { return command_running_; }
    bool InputEnabled() const { return input_enabled_; }

    // The controls, by their names.
    Panel* Panel1;
    Panel* Panel2;
    Panel* Panel3;
    ClickLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    Edit* eDBName;
    Edit* eDB;
    Edit* eUserName;
    Edit* ePassw;
    Edit* eScript;
    EllipsisButton* eScriptButton;
    QToolButton* btSelectDB;
    QToolButton* SpeedButton1;
    QPushButton* DBVersionBitBtn;
    QAction* aExecScript;
    QAction* AZipFile;
    QAction* AUnzipFile;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildLayout();
    void BindHandlers();
    void RunHandler(const std::function<void(TForm1&)>& handler);
    void ShowFailureOf(const std::function<void()>& handler);
    void RequestStop();
    Edit* FieldEdit(Field field) const;
    bool InsideWindow(QObject* object) const;
    void ApplyCursor(std::int16_t value);
    template <class ShowBox>
    auto WithDefaultCursor(ShowBox show_box);

    TForm1Handlers handlers_;
    OpenFileDialog od_;
    bool command_running_ = false;
    bool stop_request_running_ = false;
    bool input_enabled_ = true;
    bool shown_once_ = false;
    QPointer<QWidget> focus_before_disable_;
    std::int16_t cursor_value_ = kCursorDefault;
    unsigned cursor_changes_ = 0;
};

}  // namespace tallo::gui
