// The window services for a run without a window: the status line goes to
// stderr (one updating line on a terminal, nothing otherwise), messages to
// stdout in the terminal's encoding, questions to the terminal when there is
// one, and file choices answered by the command line.
#pragma once

#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "base/window_services.h"

namespace tallo::cli {

// Windows-1251 text in the encoding of the current locale (UTF-8 for a plain
// "C" locale, which cannot show Cyrillic at all).
std::string ToTerminal(const std::string& cp1251_text);
// Text typed in the locale's encoding as Windows-1251; unchanged when it has
// characters Windows-1251 cannot hold, so no byte of it is lost.
std::string FromTerminal(const std::string& terminal_text);

// The system's error code of the first message that could not be written
// out (the information texts on stdout); 0 when none failed.
int OutputError();

class ConsoleServices : public WindowServices {
  public:
    // interactive: questions are asked on stdin; otherwise they are answered
    // No. The status line is shown only when err is a terminal.
    ConsoleServices(std::FILE* out, std::FILE* err, bool interactive);
    ~ConsoleServices() override;

    std::string Text(Field field) const override;
    void SetText(Field field, const std::string& text) override;
    bool ExecScriptEnabled() const override { return true; }
    void SetExecScriptEnabled(bool) override {}
    void ShowInformation(const std::string& text) override;
    bool AskErrorYesNo(const std::string& text) override;
    void SetWindowEnabled(bool) override {}
    void SetCursorValue(std::int16_t value) override { cursor_ = value; }
    std::int16_t CursorValue() const override { return cursor_; }
    void ProcessMessages() override {}
    OpenFileDialog& OD() override { return od_; }
    bool ExecuteOD() override;
    void ShowStandardError(const std::string& message) override;

    // The file name the next file choice answers with.
    void AnswerFileChoice(const std::string& name) { choice_ = name; }
    // Ends an updating status line before other output.
    void EndStatusLine();
    // Whether a question was answered No (a protocol file was then not saved).
    bool Declined() const { return declined_; }

  private:
    std::FILE* out_;
    std::FILE* err_;
    bool status_terminal_;
    bool interactive_;
    bool status_pending_ = false;
    bool declined_ = false;
    std::map<Field, std::string> texts_;
    std::int16_t cursor_ = kCursorDefault;
    OpenFileDialog od_;
    std::optional<std::string> choice_;
};

}  // namespace tallo::cli
