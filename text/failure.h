// The root of the failure family: every failure the system raises itself is
// an exception of this kind carrying its exact message. The kinds of each
// layer derive from it (base/errors.h holds the tool's).
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace tallo {

// Base of every failure the system raises itself. what() is the exact message;
// detail() is the lower layer's own account of it (zlib's message, say), for
// the places that show more than the message; empty when there is none.
class Failure : public std::exception {
  public:
    explicit Failure(std::string message, std::string detail = {})
        : message_(std::move(message)), detail_(std::move(detail)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    const std::string& detail() const noexcept { return detail_; }

  private:
    std::string message_;
    std::string detail_;
};

}  // namespace tallo
