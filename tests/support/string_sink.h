#pragma once

// A sink that keeps everything written to it, for tests and fuzzing.

#include <string>

#include "report/output_buffer.h"

namespace qrvdiff::testing {

class StringSink final : public ByteSink {
 public:
  bool write(const char* data, std::size_t size) override {
    bytes.append(data, size);
    ++writes;
    return true;
  }
  std::string bytes;
  int writes = 0;
};

}  // namespace qrvdiff::testing
