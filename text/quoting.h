// Quoting of texts put into SQL.
#pragma once

#include <string>
#include <string_view>

namespace tallo {

// Appends text with every quote inside it doubled, as SQL writes a quote
// within a string or a quoted name.
void AppendDoubled(std::string& out, std::string_view text, char quote);

// The text enclosed in quote, every quote inside it doubled.
std::string Enclosed(std::string_view text, char quote);

// The text enclosed in single quotes, every single quote inside it doubled.
std::string Q(std::string_view text);

}  // namespace tallo
