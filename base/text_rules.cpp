#include "base/text_rules.h"

#include "text/win1251.h"

namespace tallo {

namespace {
bool IsDelimiter(char c) {
    return c == '\\' || c == ':' || c == '/';
}

std::size_t LastDelimiter(std::string_view name) {
    for (std::size_t i = name.size(); i > 0; --i) {
        if (IsDelimiter(name[i - 1]))
            return i - 1;
    }
    return std::string_view::npos;
}

std::size_t ExtensionStart(std::string_view name) {
    for (std::size_t i = name.size(); i > 0; --i) {
        char c = name[i - 1];
        if (c == '.')
            return i - 1;
        if (IsDelimiter(c))
            break;
    }
    return name.size();
}
}  // namespace

std::string StandardErrorText(std::string_view message) {
    std::string out(message);
    if (!out.empty() && static_cast<unsigned char>(out.back()) > static_cast<unsigned char>('.'))
        out += '.';
    return out;
}

std::string ApplicationTitle(std::string_view executable_path) {
    std::size_t d = LastDelimiter(executable_path);
    std::string_view name = d == std::string_view::npos ? executable_path : executable_path.substr(d + 1);
    std::size_t dot = name.find('.');
    if (dot != std::string_view::npos)
        name = name.substr(0, dot);
    std::string out(name);
    // The first character is shown as a capital, so "tallo" and "TALLO.EXE"
    // both give "Tallo".
    if (!out.empty())
        out[0] = static_cast<char>(cp1251::ToUpper(static_cast<unsigned char>(out[0])));
    for (std::size_t i = 1; i < out.size(); ++i) {
        out[i] = static_cast<char>(cp1251::ToLower(static_cast<unsigned char>(out[i])));
    }
    return out;
}

std::string ExtensionOf(std::string_view name) {
    return std::string(name.substr(ExtensionStart(name)));
}

std::string ChangeExtension(std::string_view name, std::string_view ext) {
    std::string out(name.substr(0, ExtensionStart(name)));
    out += ext;
    return out;
}

std::string FolderPart(std::string_view name) {
    std::size_t d = LastDelimiter(name);
    return d == std::string_view::npos ? std::string() : std::string(name.substr(0, d + 1));
}

std::string Joined(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (std::string_view part : parts)
        size += part.size();
    std::string out;
    out.reserve(size);
    for (std::string_view part : parts)
        out.append(part);
    return out;
}

}  // namespace tallo
