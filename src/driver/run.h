#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace qrvdiff {

// What a run writes to besides its output file, and where it gets the time; the program uses
// the process's streams and clock, tests their own.
struct RunEnvironment {
  std::FILE* standardOutput = stdout;
  std::FILE* standardError = stderr;
  // The 24-character time text and its newline, for the header of the compared listing.
  std::function<std::string()> timeText;
};

// The whole program: command line, both listings, pairing, marking, tallies and the compared
// listing. Returns the exit status: 0 after a complete run or the help text, 255 after an error,
// which is reported as one line "*** qrvdiff error: <message>" on standard error.
int runQrvdiff(int argumentCount, const char* const* arguments, const RunEnvironment& environment);

// The same with the process's own streams and clock.
int runQrvdiff(int argumentCount, const char* const* arguments);

}  // namespace qrvdiff
