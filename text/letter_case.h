// Letter case. Two rule sets share one folding helper: the ASCII rules (file
// extensions, the engine's message prefix) and the Windows-1251 rules of
// text/win1251.h (user texts, settings keys).
#pragma once

#include <cstddef>
#include <string_view>

namespace tallo {

namespace text {

// Whether a and b are equal once every byte of both went through fold.
template <class Fold>
bool EqualFolded(std::string_view a, std::string_view b, Fold fold) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace text

namespace ascii {

// Only "a".."z" change; every other byte stays.
constexpr unsigned char ToUpper(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
}

// "A".."Z" and "a".."z".
constexpr bool IsLetter(unsigned char c) {
    return ToUpper(c) >= 'A' && ToUpper(c) <= 'Z';
}

// Case-insensitive equality under the ASCII rules.
inline bool EqualNoCase(std::string_view a, std::string_view b) {
    return text::EqualFolded(a, b, ToUpper);
}

// Whether text begins with prefix under the ASCII rules.
inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace ascii

}  // namespace tallo
