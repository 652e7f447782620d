// Plain text files read and written whole: the script and version files, and
// the run protocol.
#pragma once

#include <string>

#include "base/window_services.h"

namespace tallo {

// The file's bytes as they stand. The file is opened for reading only, shared
// with readers and writers; OpenFileFailure when it cannot be opened.
std::string ReadTextFile(const std::string& name);

// Replaces the file with the text (SaveWholeFile; no wider permissions than
// like, when given). When the file cannot be created the operator is asked
// through window.AskErrorYesNo whether to try again: Yes tries again, No
// returns false without writing anything. A write that fails is a
// WriteFailure naming the file and the reason, and leaves the old file as it
// was. True when the file was written.
bool WriteProtocolFile(WindowServices& window, const std::string& text, const std::string& name,
                       const std::string& like = {});

// The retry question of WriteProtocolFile for that file name.
std::string ProtocolRetryQuestion(const std::string& name);

}  // namespace tallo
