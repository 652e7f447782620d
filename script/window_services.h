// The window as the logic sees it: the window state and the services the
// commands call. The Qt window implements this; tests use a scripted fake.
#pragma once

#include <cstdint>
#include <string>

namespace tallo {

// Items of the window state.
enum class Field { eDBName, eDB, eUserName, ePassw, eScript, Panel3 };

// Cursor values of the application-wide cursor.
inline constexpr std::int16_t kCursorDefault = 0;
inline constexpr std::int16_t kCursorSqlWait = -17;

// The shared open-file dialog OD: its settings live as long as the window.
struct OpenFileDialog {
    std::string filter = "Script Files|*.?ql|All Files (*.*)|*.*";
    int filter_index = 1;
    std::string title;
    std::string file_name;
    std::string default_ext = ".sql";
};

class WindowServices {
  public:
    virtual ~WindowServices() = default;

    // Window state (texts are 8-bit Windows-1251).
    virtual std::string Text(Field field) const = 0;
    virtual void SetText(Field field, const std::string& text) = 0;
    virtual bool ExecScriptEnabled() const = 0;
    virtual void SetExecScriptEnabled(bool enabled) = 0;

    // Status line: SetText(Field::Panel3, text).
    void SetStatus(const std::string& text) { SetText(Field::Panel3, text); }
    // Information box captioned with the application title; returns when closed.
    virtual void ShowInformation(const std::string& text) = 0;
    // Error-type Yes/No question; true only for "&Yes".
    virtual bool AskErrorYesNo(const std::string& text) = 0;
    // Input state of the whole window; the controls keep their look.
    virtual void SetWindowEnabled(bool enabled) = 0;
    // Application-wide cursor value (kCursorSqlWait, kCursorDefault).
    virtual void SetCursorValue(std::int16_t value) = 0;
    virtual std::int16_t CursorValue() const = 0;
    // Handle every waiting window message, then return.
    virtual void ProcessMessages() = 0;
    // The shared dialog OD and its modal run: true on confirmation, when the
    // chosen full name is in OD().file_name and the filter index left selected
    // in OD().filter_index; false on cancel, with both unchanged.
    virtual OpenFileDialog& OD() = 0;
    virtual bool ExecuteOD() = 0;
    // Standard error box: application title, stop icon, OK; text given as the
    // failure's message (the box applies StandardErrorText).
    virtual void ShowStandardError(const std::string& message) = 0;
};

}  // namespace tallo
