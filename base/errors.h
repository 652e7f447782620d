// Failure kinds of the tool. Every failure is an exception carrying its exact
// message; a handler catches by kind only what it answers itself.
#pragma once

#include <cstddef>
#include <string>

#include "text/failure.h"

namespace tallo {

// I/O failure of a raw file operation; the message is chosen by the
// platform-neutral error code (see IoFailure::MessageFor).
class IoFailure : public Failure {
  public:
    explicit IoFailure(int code) : Failure(MessageFor(code)), code_(code) {}
    int code() const noexcept { return code_; }
    // 2 "File not found", 3 "Invalid filename", 4 "Too many open files",
    // 5 "File access denied", 100 "Read beyond end of file", 101 "Disk full",
    // 106 "Invalid numeric input", anything else "I/O error %d".
    static std::string MessageFor(int code);

  private:
    int code_;
};

// "Cannot open file "<full path>". <system text>"
class OpenFileFailure : public Failure {
  public:
    using Failure::Failure;
    static OpenFileFailure For(const std::string& name, int code);
};

// "Cannot create file "<full path>". <system text>"
class CreateFileFailure : public Failure {
  public:
    using Failure::Failure;
    static CreateFileFailure For(const std::string& name, int code);
};

// "Stream write error", or for a file that could not be written, flushed or
// put in place: "Cannot write file "<full path>". <system text>"
class WriteFailure : public Failure {
  public:
    WriteFailure() : Failure("Stream write error") {}
    static WriteFailure For(const std::string& name, int code);

  private:
    explicit WriteFailure(std::string message) : Failure(std::move(message)) {}
};

// "Stream read error"
class ReadFailure : public Failure {
  public:
    ReadFailure() : Failure("Stream read error") {}
};

// zlib answered a negative result, or the packed data is damaged ("Error",
// zlib's own message or what is wrong as the detail), or an adapter was used
// the wrong way round ("Invalid stream operation").
class ZlibFailure : public Failure {
  public:
    ZlibFailure() : Failure("Error") {}
    explicit ZlibFailure(std::string message) : Failure(std::move(message)) {}
    static ZlibFailure WithDetail(std::string detail) { return ZlibFailure("Error", std::move(detail)); }

  private:
    ZlibFailure(std::string message, std::string detail) : Failure(std::move(message), std::move(detail)) {}
};

// "Out of memory while expanding memory stream"
class StreamMemoryFailure : public Failure {
  public:
    StreamMemoryFailure() : Failure("Out of memory while expanding memory stream") {}
};

// "Out of memory"
class OutOfMemoryFailure : public Failure {
  public:
    OutOfMemoryFailure() : Failure("Out of memory") {}
};

// "The script "<full path>" holds a NUL byte at line <n>: nothing was run"
class ScriptRefused : public Failure {
  public:
    ScriptRefused(const std::string& name, std::size_t line);
};

// "Unable to write to <path>" from the profile accessor of the settings file.
class SettingsWriteFailure : public Failure {
  public:
    explicit SettingsWriteFailure(const std::string& path) : Failure("Unable to write to " + path) {}
};

}  // namespace tallo
