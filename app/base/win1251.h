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

}  // namespace tallo::cp1251
