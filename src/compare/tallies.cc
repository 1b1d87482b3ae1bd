#include "compare/tallies.h"

namespace qrvdiff {

namespace {

CoverageTally tallyOf(const FunctionRecord& function) {
  CoverageTally tally;
  tally.functionsCompared = 1;
  tally.keptCount = function.keptCount;
  tally.gainedCount = function.gainedCount;
  tally.lostCount = function.lostCount;
  tally.coveredCount = static_cast<std::uint32_t>(function.coveredCount);
  tally.pointCount = static_cast<std::uint32_t>(function.pointCount);
  if (function.statementNA) {
    tally.naFunctionCount = 1;
  } else {
    tally.statementCovered = static_cast<std::uint32_t>(function.statementCovered);
    tally.statementTotal = static_cast<std::uint32_t>(function.statementTotal);
  }
  return tally;
}

}  // namespace

void computeFileTally(ProfileListing& second, MonitoredFile& file) {
  file.tally = {};
  for (std::size_t i = file.firstFunction; i < file.firstFunction + file.functionCount; ++i) {
    const FunctionRecord& function = second.functions[i];
    if (function.pairState != PairState::Compared) continue;
    file.tally += tallyOf(function);
  }
}

void computeTotals(ProfileListing& second) {
  second.totals = {};
  for (const MonitoredFile& file : second.files) second.totals += file.tally;
}

void computeTallies(ProfileListing& second) {
  for (MonitoredFile& file : second.files) computeFileTally(second, file);
  computeTotals(second);
}

}  // namespace qrvdiff
