#pragma once

// A background writer for an output buffer of a test, or none.

#include <optional>

#include "report/compared_output.h"
#include "report/output_buffer.h"

namespace qrvdiff::testing {

// Must outlive the buffers that write through it.
class OptionalBackgroundWriter {
 public:
  explicit OptionalBackgroundWriter(bool on) {
    if (on) writer_.emplace();
  }
  BlockWriter* get() { return writer_ ? &*writer_ : nullptr; }

 private:
  std::optional<BackgroundWriter> writer_;
};

}  // namespace qrvdiff::testing
