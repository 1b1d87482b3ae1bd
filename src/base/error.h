#pragma once

#include <stdexcept>
#include <string>

namespace qrvdiff {

// The one error type of the program. It carries the finished message; the entry point writes
// "*** qrvdiff error: " + message + "\n" to standard error and returns status 255.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

inline constexpr const char* kOutOfMemoryMessage = "Out of memory, malloc() failed";

}  // namespace qrvdiff
