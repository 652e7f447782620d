// Plain text files read whole: the script and version files.
#pragma once

#include <string>

namespace tallo {

// The file's bytes as they stand. The file is opened for reading only, shared
// with readers and writers; OpenFileFailure when it cannot be opened.
// spare: room kept after the text, so that as many bytes more (a header put
// in front of it) fit without moving the text.
std::string ReadTextFile(const std::string& name, std::size_t spare = 0);

}  // namespace tallo
