#pragma once

namespace qrvdiff::summary {

// The whole program: command line, reading, report, exit status (0, 1 for a loss under
// --fail-on-loss, 2 for every error).
int runSummary(int argc, char** argv);

}  // namespace qrvdiff::summary
