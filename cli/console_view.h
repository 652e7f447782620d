// The run's view without a window: the status line goes to stderr (one
// updating line on a terminal, nothing otherwise), messages to stdout in the
// terminal's encoding, questions to the terminal when there is one.
#pragma once

#include <cstdio>
#include <string>

#include "script/script_run.h"

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

class ConsoleView : public script::RunView {
  public:
    // interactive: questions are asked on stdin; otherwise they are answered
    // No. The status line is shown only when err is a terminal.
    ConsoleView(std::FILE* out, std::FILE* err, bool interactive);
    ~ConsoleView() override;

    void ShowStatus(const std::string& text) override;
    // Passes a stop request that came before the engine's call was under
    // way on to it.
    void ProcessMessages() override;
    bool RetryProtocol(const std::string& question) override;
    // The notice of an interrupted run goes to stdout, before the run.
    void RunStarts(const std::string& interrupted) override;

    // A message on stdout, CR LF line ends as LF.
    void Print(const std::string& text);
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
};

}  // namespace tallo::cli
