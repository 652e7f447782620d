#include "cli/console_view.h"

#include <cerrno>
#include <optional>

#include "base/platform.h"
#include "cli/stop_signals.h"
#include "script/unfinished_protocol.h"
#include "text/win1251.h"

namespace tallo::cli {
namespace {

enum class Codeset { Utf8, Cp1251, Other };

Codeset LocaleCodeset(std::string& name) {
    name = platform::LocaleCodeset();
    // A plain "C" locale cannot show Cyrillic at all; UTF-8 is what a modern
    // terminal shows.
    if (name.empty() || name == "UTF-8" || name == "ANSI_X3.4-1968")
        return Codeset::Utf8;
    if (name == "CP1251")
        return Codeset::Cp1251;
    return Codeset::Other;
}

std::string WithoutCr(const std::string& text) {
    std::string shown = text;
    for (std::size_t p = 0; (p = shown.find("\r\n", p)) != std::string::npos;)
        shown.erase(p, 1);
    return shown;
}

int g_output_error = 0;

}  // namespace

int OutputError() {
    return g_output_error;
}

std::string ToTerminal(const std::string& cp1251_text) {
    std::string name;
    switch (LocaleCodeset(name)) {
        case Codeset::Utf8:
            return cp1251::ToUtf8(cp1251_text);
        case Codeset::Cp1251:
            return cp1251_text;
        case Codeset::Other:
            break;
    }
    auto converted = platform::ConvertText(cp1251_text, name + "//TRANSLIT", "CP1251", false);
    return converted ? *converted : cp1251::ToUtf8(cp1251_text);
}

std::string FromTerminal(const std::string& terminal_text) {
    std::string name;
    switch (LocaleCodeset(name)) {
        case Codeset::Utf8: {
            std::string converted = cp1251::FromUtf8(terminal_text);
            return cp1251::ToUtf8(converted) == terminal_text ? converted : terminal_text;
        }
        case Codeset::Cp1251:
            return terminal_text;
        case Codeset::Other:
            break;
    }
    auto converted = platform::ConvertText(terminal_text, "CP1251", name, true);
    return converted ? *converted : terminal_text;
}

ConsoleView::ConsoleView(std::FILE* out, std::FILE* err, bool interactive)
    : out_(out), err_(err), status_terminal_(platform::IsTerminal(err)), interactive_(interactive) {}

ConsoleView::~ConsoleView() {
    EndStatusLine();
}

void ConsoleView::ShowStatus(const std::string& text) {
    if (!status_terminal_)
        return;
    // One line that is rewritten in place: the first line of the text, cut to
    // the terminal's width (one byte is one character in Windows-1251), so it
    // never wraps onto a second line that "\r" could not reach.
    std::size_t width = 80;
    if (const int columns = platform::TerminalWidth(err_); columns > 1)
        width = static_cast<std::size_t>(columns);
    std::string line = text.substr(0, text.find_first_of("\r\n"));
    if (line.size() > width - 1)
        line.resize(width - 1);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    std::fprintf(err_, "\r\033[K%s", ToTerminal(line).c_str());
    std::fflush(err_);
    status_pending_ = true;
}

void ConsoleView::ProcessMessages() {
    PassStopToEngine();
}

void ConsoleView::EndStatusLine() {
    if (status_pending_) {
        std::fputs("\r\033[K", err_);
        std::fflush(err_);
        status_pending_ = false;
    }
}

void ConsoleView::Print(const std::string& text) {
    EndStatusLine();
    std::fprintf(out_, "%s\n", ToTerminal(WithoutCr(text)).c_str());
    if (std::fflush(out_) != 0 && g_output_error == 0)
        g_output_error = errno;
}

void ConsoleView::RunStarts(const std::string& interrupted) {
    if (!interrupted.empty())
        Print(script::InterruptedRunNotice(interrupted));
}

bool ConsoleView::RetryProtocol(const std::string& question) {
    EndStatusLine();
    std::fprintf(err_, "%s\n", ToTerminal(WithoutCr(question)).c_str());
    bool yes = false;
    if (interactive_) {
        std::fputs("[y/N] ", err_);
        std::fflush(err_);
        char line[64];
        yes = std::fgets(line, sizeof line, stdin) != nullptr && (line[0] == 'y' || line[0] == 'Y');
    } else {
        std::fputs("[y/N] n (no terminal to answer)\n", err_);
    }
    std::fflush(err_);
    if (!yes)
        declined_ = true;
    return yes;
}

}  // namespace tallo::cli
