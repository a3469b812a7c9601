// Base of every failure the programs raise: carries the exact text shown to the operator.
#pragma once

#include <exception>
#include <string>

namespace common {

class Exception : public std::exception {
  public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

  private:
    std::string message_;
};

// A text that should have been a whole number and is not.
class EConvertError : public Exception {
  public:
    using Exception::Exception;
};

// A file that cannot be opened, created or written.
class EFileError : public Exception {
  public:
    using Exception::Exception;
};

}  // namespace common
