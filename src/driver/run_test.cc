#include "driver/run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/listing_lines.h"
#include "support/scratch_folder.h"

namespace qrvdiff {
namespace {

using testing::functionLine;
using testing::functionSection;
using testing::listingText;

class RunFiles : public testing::ScratchFolder {
 protected:
  void SetUp() override {
    ScratchFolder::SetUp();
    const std::string section = functionSection({functionLine("1", "", ' ', 10, "FUNCTION f()")});
    listing1_ = write("l1.txt", listingText({section}));
    listing2_ = write("l2.txt", listingText({section}));
    output_ = write("out.txt", "the output of an earlier run\n");
  }

  // Runs qrvdiff on the two listings into out.txt; its exit status, its standard error in `error`.
  int run(const RunEnvironment& base, std::string& error) {
    RunEnvironment environment = base;
    std::FILE* errorStream = std::tmpfile();
    std::FILE* outputStream = std::tmpfile();
    environment.standardError = errorStream;
    environment.standardOutput = outputStream;
    const std::vector<const char*> words = {"qrvdiff",         "-i1", listing1_.c_str(), "-i2",
                                            listing2_.c_str(), "-p",  output_.c_str()};
    const int status = runQrvdiff(static_cast<int>(words.size()), words.data(), environment);
    std::rewind(errorStream);
    error.clear();
    for (int c; (c = std::fgetc(errorStream)) != EOF;) error += static_cast<char>(c);
    std::fclose(errorStream);
    std::fclose(outputStream);
    return status;
  }

  std::string outputText() const {
    std::stringstream text;
    text << std::ifstream(output_, std::ios::binary).rdbuf();
    return text.str();
  }

  std::string listing1_;
  std::string listing2_;
  std::string output_;
};

// A failure that is none of the run's own faults, met once the output is being written, ends the
// run like any other: one message, status 255, the earlier output as it was.
TEST_F(RunFiles, ForeignExceptionsEndTheRunWithOneMessage) {
  std::string error;
  RunEnvironment environment;
  environment.timeText = []() -> std::string { throw std::out_of_range("clock out of range"); };
  EXPECT_EQ(run(environment, error), 255);
  EXPECT_EQ(error, "*** qrvdiff error: Unexpected failure: clock out of range\n");
  EXPECT_EQ(outputText(), "the output of an earlier run\n");

  environment.timeText = []() -> std::string { throw 7; };
  EXPECT_EQ(run(environment, error), 255);
  EXPECT_EQ(error, "*** qrvdiff error: Unexpected failure of an unknown kind\n");
  EXPECT_EQ(outputText(), "the output of an earlier run\n");
}

TEST_F(RunFiles, CompleteRunReplacesTheOutput) {
  std::string error;
  RunEnvironment environment;
  environment.timeText = [] { return std::string("Mon Nov 30 14:02:11 2026\n"); };
  EXPECT_EQ(run(environment, error), 0);
  EXPECT_EQ(error, "");
  EXPECT_NE(outputText().find("Listing produced at   : Mon Nov 30 14:02:11 2026\n"),
            std::string::npos);
}

}  // namespace
}  // namespace qrvdiff
