// The tool's modal message boxes. Texts are Windows-1251; CR LF breaks lines.
#pragma once

#include <string>

namespace tallo::gui {

// Application title, formed once from the executable's own file name.
const std::string& AppTitle();

// Caption: the application title; no icon; "OK" as default and cancel button.
void InformationBox(const std::string& text);
// Caption "Error"; error icon; "&Yes" (default) and "&No" (cancel). True only
// for "&Yes"; Escape and the close box answer No.
bool ErrorYesNoBox(const std::string& text);
// The standard error box: application title, stop icon, OK, the message with
// the "." rule applied.
void StandardErrorBox(const std::string& message);

}  // namespace tallo::gui
