// Small text rules shared by every part of the tool.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace tallo {

inline constexpr const char* kCrLf = "\r\n";

// Text of the standard error box: the message, with "." appended when the
// message is not empty and its last character sorts after ".".
std::string StandardErrorText(std::string_view message);

// Application title from the executable's path: the folder dropped, the name
// cut before its first ".", the first character upper-cased and every
// character after it lower-cased.
std::string ApplicationTitle(std::string_view executable_path);

// Extension of a file name: from the last "." that follows the last path
// delimiter, the dot included; empty when there is none. Delimiters are "\"
// and ":" as the tool's names are written, and "/" on POSIX.
std::string ExtensionOf(std::string_view name);
// The name with its extension replaced by ext (appended when it has none).
std::string ChangeExtension(std::string_view name, std::string_view ext);
// The folder part of a name: up to and including its last path delimiter.
std::string FolderPart(std::string_view name);
// The parts one after another, in one allocation. (gcc 12 at -O3 warns
// falsely about chains of operator+ that start with a literal or join two
// temporaries, GCC bug 105329; building by append has no such chain.)
std::string Joined(std::initializer_list<std::string_view> parts);

}  // namespace tallo
