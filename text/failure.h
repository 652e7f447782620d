// The root of the failure family: every failure the system raises itself is
// an exception of this kind carrying its exact message. The kinds of each
// layer derive from it (app/base/errors.h holds the tool's).
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace tallo {

// Base of every failure the system raises itself. what() is the exact message.
class Failure : public std::exception {
  public:
    explicit Failure(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

  private:
    std::string message_;
};

}  // namespace tallo
