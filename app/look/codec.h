// Conversion between the tool's 8-bit Windows-1251 texts and Qt's strings.
// Used only where Qt shows or reads a text; the logic keeps the bytes.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tallo::gui {

// Windows-1251 bytes to a QString. The one byte without a character in the
// code page (0x98) becomes U+0098 so that it survives a round trip.
QString FromCp1251(std::string_view bytes);

// A QString to Windows-1251 bytes; a character the code page lacks becomes "?".
std::string ToCp1251(const QString& text);

// True when every character of the text has a Windows-1251 byte.
bool FitsCp1251(const QString& text);

// File names travel in the platform's own narrow encoding.
QString FromFileName(const std::string& bytes);
std::string ToFileName(const QString& name);

}  // namespace tallo::gui
