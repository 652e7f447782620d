#include "base/errors.h"

#include "base/platform.h"
#include "text/code_names.h"

namespace tallo {

std::string IoFailure::MessageFor(int code) {
    static constexpr CodeName kMessages[] = {
        {2, "File not found"},         {3, "Invalid filename"},          {4, "Too many open files"},
        {5, "File access denied"},     {100, "Read beyond end of file"}, {101, "Disk full"},
        {106, "Invalid numeric input"}};
    const char* message = NameOf(kMessages, code);
    return message ? message : "I/O error " + std::to_string(code);
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
