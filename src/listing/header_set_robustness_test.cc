// The set of "MONITORED " lines that chooses listing 1's sections holds any number of lines, and
// only those.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "listing/header_set.h"

namespace qrvdiff {
namespace {

std::string header(int i) {
  return "MONITORED SOURCE FILE : src/f" + std::to_string(i) + ".c";
}

TEST(HeaderSetRobustness, HoldsManyLinesAndOnlyThose) {
  std::vector<std::string> lines;
  for (int i = 0; i < 3000; ++i) lines.push_back(header(i));
  HeaderSet set;  // no size expected: it has to grow
  for (const std::string& line : lines) set.add(line);
  for (const std::string& line : lines) set.add(line);  // again: no effect
  EXPECT_EQ(set.size(), lines.size());
  for (const std::string& line : lines) EXPECT_TRUE(set.contains(line)) << line;
  EXPECT_FALSE(set.contains(header(3000)));
  EXPECT_FALSE(set.contains(header(7) + " "));
  EXPECT_FALSE(set.contains("MONITORED SOURCE FILE : src/f"));
  EXPECT_FALSE(set.contains(""));
}

}  // namespace
}  // namespace qrvdiff
