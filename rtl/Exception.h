#pragma once
// The base of every exception of the project: its message is the text an action logs.
#include <stdexcept>
#include <string>

namespace rtl {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

}  // namespace rtl
