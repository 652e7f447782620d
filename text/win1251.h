// Letter case of the Windows-1251 code page (Latin and Cyrillic letters).
#pragma once

#include <string>
#include <string_view>

namespace tallo::cp1251 {

unsigned char ToUpper(unsigned char c);
unsigned char ToLower(unsigned char c);
std::string Upper(std::string_view text);
std::string Lower(std::string_view text);
// Byte-for-byte comparison after upper-casing both sides.
bool EqualNoCase(std::string_view a, std::string_view b);

// Conversion between Windows-1251 and UTF-8 for the edges of the program
// (source literals, terminals). A character without a Windows-1251 form
// becomes "?"; an undefined Windows-1251 byte (0x98) becomes U+FFFD.
std::string FromUtf8(std::string_view utf8);
std::string ToUtf8(std::string_view cp1251_text);

// Well-formed UTF-8: no overlong forms, surrogates or code points beyond
// Unicode. ASCII text is valid UTF-8.
bool IsValidUtf8(std::string_view text);
// The offset of the first byte where text stops being well-formed UTF-8, or
// npos when all of it is.
std::size_t InvalidUtf8At(std::string_view text);
// The code point of the well-formed UTF-8 sequence at text[i] and its length
// in bytes (0 when none starts there).
std::size_t DecodeUtf8At(std::string_view text, std::size_t i, char32_t& cp);

// The Windows-1251 byte of a Unicode character, or -1 when it has none.
int ByteFor(char32_t cp);
// The Unicode character of a Windows-1251 byte, or 0 for the one byte the
// code page leaves undefined (0x98).
char32_t CharFor(unsigned char b);

// A Windows-1251 text written as a UTF-8 literal in the source.
inline std::string operator""_cp(const char* utf8, std::size_t n) {
    return FromUtf8({utf8, n});
}

}  // namespace tallo::cp1251
