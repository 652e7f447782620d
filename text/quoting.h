// Quoting of texts put into SQL.
#pragma once

#include <string>
#include <string_view>

namespace tallo {

// The text enclosed in single quotes, every single quote inside it doubled.
std::string Q(std::string_view text);

}  // namespace tallo
