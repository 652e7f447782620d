#include "console_services.h"

#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/text_rules.h"
#include "base/win1251.h"

namespace tallo::cli {

std::string ToTerminal(const std::string& cp1251_text) {
    const char* codeset = nl_langinfo(CODESET);
    if (codeset == nullptr || std::strcmp(codeset, "UTF-8") == 0 ||
        std::strcmp(codeset, "ANSI_X3.4-1968") == 0) {
        // A plain "C" locale cannot show Cyrillic at all; UTF-8 is what a
        // modern terminal shows.
        return cp1251::ToUtf8(cp1251_text);
    }
    if (std::strcmp(codeset, "CP1251") == 0)
        return cp1251_text;
    iconv_t cd = iconv_open((std::string(codeset) + "//TRANSLIT").c_str(), "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return cp1251::ToUtf8(cp1251_text);
    std::string out(cp1251_text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(cp1251_text.data());
    size_t in_left = cp1251_text.size();
    char* op = out.data();
    size_t out_left = out.size();
    while (in_left > 0) {
        if (iconv(cd, &in, &in_left, &op, &out_left) == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                break;
            *op++ = '?';
            --out_left;
            ++in;
            --in_left;
        }
    }
    iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
}

ConsoleServices::ConsoleServices(std::FILE* out, std::FILE* err, bool interactive)
    : out_(out), err_(err), status_terminal_(::isatty(::fileno(err)) != 0), interactive_(interactive) {
    texts_[Field::eUserName] = "SYSDBA";
}

ConsoleServices::~ConsoleServices() {
    EndStatusLine();
}

std::string ConsoleServices::Text(Field field) const {
    auto it = texts_.find(field);
    return it == texts_.end() ? std::string() : it->second;
}

void ConsoleServices::SetText(Field field, const std::string& text) {
    texts_[field] = text;
    if (field != Field::Panel3 || !status_terminal_)
        return;
    // The status line shows its first line only, as the window does.
    std::string first = text.substr(0, text.find_first_of("\r\n"));
    std::fprintf(err_, "\r\033[K%s", ToTerminal(first).c_str());
    std::fflush(err_);
    status_pending_ = true;
}

void ConsoleServices::EndStatusLine() {
    if (status_pending_) {
        std::fputs("\r\033[K", err_);
        std::fflush(err_);
        status_pending_ = false;
    }
}

void ConsoleServices::ShowInformation(const std::string& text) {
    EndStatusLine();
    std::string shown = text;
    for (std::size_t p = 0; (p = shown.find("\r\n", p)) != std::string::npos;)
        shown.erase(p, 1);
    std::fprintf(out_, "%s\n", ToTerminal(shown).c_str());
    std::fflush(out_);
}

bool ConsoleServices::AskErrorYesNo(const std::string& text) {
    EndStatusLine();
    std::string shown = text;
    for (std::size_t p = 0; (p = shown.find("\r\n", p)) != std::string::npos;)
        shown.erase(p, 1);
    std::fprintf(err_, "%s\n", ToTerminal(shown).c_str());
    if (!interactive_) {
        std::fputs("[y/N] n (no terminal)\n", err_);
        return false;
    }
    std::fputs("[y/N] ", err_);
    std::fflush(err_);
    char line[64];
    if (std::fgets(line, sizeof line, stdin) == nullptr)
        return false;
    return line[0] == 'y' || line[0] == 'Y';
}

bool ConsoleServices::ExecuteOD() {
    if (!choice_)
        return false;
    od_.file_name = *choice_;
    choice_.reset();
    return true;
}

void ConsoleServices::ShowStandardError(const std::string& message) {
    EndStatusLine();
    std::fprintf(err_, "tallo-run: %s\n", ToTerminal(StandardErrorText(message)).c_str());
    std::fflush(err_);
}

}  // namespace tallo::cli
