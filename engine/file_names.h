// File names as a script writes them, turned into the names the file system
// uses.
#pragma once

#include <string>
#include <string_view>

namespace tallo::engine {

// Scripts are Windows-1251 text, and so are the names in them (database
// paths, OUTPUT and INPUT files). Where the file system names files in UTF-8
// (POSIX), a name that is not valid UTF-8 is taken as Windows-1251 and
// converted; ASCII and UTF-8 names pass unchanged. On Windows the 8-bit name
// is already the system's own.
std::string FileSystemName(std::string_view script_name);

}  // namespace tallo::engine
