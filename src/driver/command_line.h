#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qrvdiff {

struct RunOptions {
  std::string inputPath1;  // -i1: listing 1, the earlier listing
  std::string inputPath2;  // -i2: listing 2, copied to the output with its differences marked
  std::string outputPath;  // -p: the output; "-" and "stdout" mean standard output
};

// The words after the program name. Returns the options, or nothing when the help text is
// wanted (no words at all, or "-h" where an option is expected). Throws Error for a bad command
// line; the first fault found decides the message.
std::optional<RunOptions> parseCommandLine(int argumentCount, const char* const* arguments);

// The help text, with the version filled in.
std::string helpText();

bool isStandardOutputPath(std::string_view outputPath);

}  // namespace qrvdiff
