#include "base/errors.h"

#include "base/platform.h"

namespace tallo {

std::string IoFailure::MessageFor(int code) {
    switch (code) {
        case 2:
            return "File not found";
        case 3:
            return "Invalid filename";
        case 4:
            return "Too many open files";
        case 5:
            return "File access denied";
        case 100:
            return "Read beyond end of file";
        case 101:
            return "Disk full";
        case 106:
            return "Invalid numeric input";
        default:
            return "I/O error " + std::to_string(code);
    }
}

namespace {
std::string FileMessage(const char* lead, const std::string& name, int code) {
    return std::string(lead) + "\"" + platform::FileNameText(platform::FullPath(name)) + "\". " +
           platform::SystemErrorText(code);
}
}  // namespace

OpenFileFailure OpenFileFailure::For(const std::string& name, int code) {
    return OpenFileFailure(FileMessage("Cannot open file ", name, code));
}

CreateFileFailure CreateFileFailure::For(const std::string& name, int code) {
    return CreateFileFailure(FileMessage("Cannot create file ", name, code));
}

WriteFailure WriteFailure::For(const std::string& name, int code) {
    return WriteFailure(FileMessage("Cannot write file ", name, code));
}

ScriptRefused::ScriptRefused(const std::string& name, std::size_t line)
    : Failure("The script \"" + platform::FileNameText(platform::FullPath(name)) +
              "\" holds a NUL byte at line " + std::to_string(line) + ": nothing was run") {}

}  // namespace tallo
