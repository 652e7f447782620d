// Plain text files read whole: the script and version files.
#pragma once

#include <string>

namespace tallo {

// The file's bytes as they stand. The file is opened for reading only, shared
// with readers and writers; OpenFileFailure when it cannot be opened.
std::string ReadTextFile(const std::string& name);

}  // namespace tallo
