#include "text/quoting.h"

namespace tallo {

void AppendDoubled(std::string& out, std::string_view text, char quote) {
    for (char c : text) {
        if (c == quote)
            out += quote;
        out += c;
    }
}

std::string Enclosed(std::string_view text, char quote) {
    std::string out;
    out.reserve(text.size() + 2);
    out += quote;
    AppendDoubled(out, text, quote);
    out += quote;
    return out;
}

std::string Q(std::string_view text) {
    return Enclosed(text, '\'');
}

}  // namespace tallo
