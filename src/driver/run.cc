#include "driver/run.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <memory>
#include <new>

#include "base/error.h"
#include "base/output_file.h"
#include "base/platform.h"
#include "base/version.h"
#include "compare/pairing_schedule.h"
#include "compare/tallies.h"
#include "driver/command_line.h"
#include "listing/both_listings.h"
#include "report/compared_output.h"
#include "report/output_buffer.h"
#include "report/writer.h"

namespace qrvdiff {

namespace {

constexpr int kErrorStatus = 255;

// Everything one comparison holds from start to end.
struct RunContext {
  RunOptions options;
  ListingInputs inputs;
  OutputFile outputFile;  // not open when the output is standard output
};

std::string currentTimeText() {
  return asctimeText(localTime(std::time(nullptr)));
}

bool closeStream(FileHandle& file) {
  return std::fclose(file.release()) == 0;
}

void compare(RunContext& run, const RunEnvironment& environment) {
  ListingInputs& inputs = run.inputs;
  const std::string outputFile =
      isStandardOutputPath(run.options.outputPath) ? std::string() : run.options.outputPath;
  readBothListings(run.options.inputPath1, run.options.inputPath2, outputFile, inputs);
  ProfileListing& listing1 = *inputs.listing1;
  ProfileListing& listing2 = *inputs.listing2;

  // The output is opened only now, so a fault in the command line or in reading an input never
  // creates or empties it; a fault met while it is written leaves it as it was (see OutputFile).
  std::FILE* output = environment.standardOutput;
  if (!isStandardOutputPath(run.options.outputPath)) {
    if (!run.outputFile.open(run.options.outputPath)) {
      throw Error("Cannot create output file \"" + run.options.outputPath + "\"");
    }
    output = run.outputFile.stream();
  }
  bool written;
  {
    FileSink sink(output);
    // Large blocks, written in smaller pieces; smaller ones for small listings, whose run is over
    // before the first-touch page faults of a large block would pay; at most one huge page. The
    // pairing thread whose section is next in turn writes it itself (see "Writing the output" in
    // doc/performance.md).
    constexpr std::size_t kSmallestBlock = 256 << 10;
    constexpr std::size_t kLargestBlock = 2 << 20;
    // A whole number of the smallest blocks, which is also the largest single write.
    const std::size_t blockSize = inputs.size2
                                      ? static_cast<std::size_t>(std::clamp<std::uint64_t>(
                                            *inputs.size2 / 16, kSmallestBlock, kLargestBlock)) /
                                            kSmallestBlock * kSmallestBlock
                                      : kLargestBlock;
    OutputBuffer out(sink, blockSize);
    const std::string timeText = environment.timeText ? environment.timeText() : currentTimeText();
    const ListingPair listings{FirstListing(listing1), SecondListing(listing2)};
    writeListingHeader(listings, {run.options.inputPath1, run.options.inputPath2, timeText}, out);
    // File sections go out as they are paired.
    ComparedOutput sections(listing2, out);
    pairFiles(listings, pairingThreadsFor(listing2), &sections);
    computeTotals(listing2);
    writeSummary(listing2, out);
    out.flush();
    written = !out.failed();
  }

  if (!closeStream(inputs.inputStream1)) throw Error("Could not close 1st input profile file");
  if (!closeStream(inputs.inputStream2)) throw Error("Could not close 2nd input profile file");
  // A write that failed on the way counts as a failed close: the output is incomplete, and is
  // not put in place of an earlier one.
  bool closed = false;
  if (!run.outputFile) {
    closed = std::fflush(output) == 0 && !std::ferror(output);
  } else if (written) {
    closed = run.outputFile.finish();
  } else {
    run.outputFile.abandon();
  }
  if (!written || !closed) throw Error("Could not close output profile file");
}

void writeAll(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

int runQrvdiff(int argumentCount, const char* const* arguments, const RunEnvironment& environment) {
  std::setvbuf(environment.standardOutput, nullptr, _IONBF, 0);
  std::setvbuf(environment.standardError, nullptr, _IONBF, 0);
  std::string message;
  try {
    const std::optional<RunOptions> options = parseCommandLine(argumentCount, arguments);
    if (!options) {
      writeAll(environment.standardOutput, helpText());
      return 0;
    }
    RunContext run;
    run.options = *options;
    compare(run, environment);
    return 0;
  } catch (const Error& error) {
    message = error.what();
  } catch (const std::bad_alloc&) {
    message = kOutOfMemoryMessage;
  } catch (const std::exception& failure) {
    // Not one of the run's own faults, which all come as Error: named by what the library says.
    message = std::string("Unexpected failure: ") + failure.what();
  } catch (...) {
    message = "Unexpected failure of an unknown kind";
  }
  writeAll(environment.standardError, "*** qrvdiff error: " + message + "\n");
  return kErrorStatus;
}

int runQrvdiff(int argumentCount, const char* const* arguments) {
  // A reader that goes away is a failed write like any other: reported, with status 255.
  ignoreBrokenPipeSignal();
  return runQrvdiff(argumentCount, arguments, RunEnvironment{});
}

}  // namespace qrvdiff
