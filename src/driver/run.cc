#include "driver/run.h"

#include <ctime>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "compare/pairing.h"
#include "compare/tallies.h"
#include "driver/command_line.h"
#include "driver/error.h"
#include "driver/version.h"
#include "listing/line_reader.h"
#include "listing/parser.h"
#include "listing/system_memory.h"
#include "report/output_buffer.h"
#include "report/writer.h"

namespace qrvdiff {

namespace {

constexpr int kErrorStatus = 255;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Everything one comparison holds from start to end.
struct RunContext {
  RunOptions options;
  FileHandle inputStream1;
  FileHandle inputStream2;
  FileHandle outputFile;  // empty when the output is standard output
  // The inputs' bytes when they could be mapped; the listings' texts point into them.
  std::optional<MappedFile> mapped1;
  std::optional<MappedFile> mapped2;
  ProfileListing listing1;
  ProfileListing listing2;
};

FileHandle openInput(const std::string& path) {
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) throw Error("Cannot open file \"" + path + "\"");
  return file;
}

// Reads one listing with `read`, in place when the file can be mapped, else as a stream.
template <typename ReadListing>
void readListing(std::FILE* file, const std::string& path, std::optional<MappedFile>& mapped,
                 ProfileListing& listing, ReadListing read) {
  if (std::optional<MappedFile> fileMap = MappedFile::map(file))
    mapped.emplace(std::move(*fileMap));
  if (mapped) {
    reserveForListingSize(listing, mapped->bytes().size());
    LineReader reader(mapped->bytes(), path);
    read(reader);
  } else {
    FileSource source(file);
    LineReader reader(source, path);
    read(reader);
  }
}

// An output file that is also an input would be emptied under the mapping that holds the input.
void detachIfSameFile(std::optional<MappedFile>& mapped, const std::string& inputPath,
                      const std::string& outputPath) {
  std::error_code error;
  if (mapped && std::filesystem::equivalent(inputPath, outputPath, error)) mapped->detachFromFile();
}

std::string currentTimeText() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  return asctimeText(local != nullptr ? *local : std::tm{});
}

bool closeStream(FileHandle& file) {
  return std::fclose(file.release()) == 0;
}

void compare(RunContext& run, const RunEnvironment& environment) {
  run.inputStream2 = openInput(run.options.inputPath2);
  readListing(run.inputStream2.get(), run.options.inputPath2, run.mapped2, run.listing2,
              [&](LineReader& reader) { readSecondListing(reader, run.listing2); });
  run.inputStream1 = openInput(run.options.inputPath1);
  readListing(run.inputStream1.get(), run.options.inputPath1, run.mapped1, run.listing1,
              [&](LineReader& reader) { readFirstListing(reader, run.listing1, run.listing2); });
  pairFiles(run.listing2, run.listing1);
  computeTallies(run.listing2, run.listing1);

  // The output is opened only now, so a fault in the command line or an input never creates or
  // empties it.
  std::FILE* output = environment.standardOutput;
  if (!isStandardOutputPath(run.options.outputPath)) {
    detachIfSameFile(run.mapped1, run.options.inputPath1, run.options.outputPath);
    detachIfSameFile(run.mapped2, run.options.inputPath2, run.options.outputPath);
    run.outputFile.reset(std::fopen(run.options.outputPath.c_str(), "wb"));
    if (!run.outputFile) {
      throw Error("Cannot create output file \"" + run.options.outputPath + "\"");
    }
    output = run.outputFile.get();
  }
  bool written;
  {
    FileSink sink(output);
    OutputBuffer out(sink);
    const std::string timeText = environment.timeText ? environment.timeText() : currentTimeText();
    writeComparedListing(run.listing2, run.listing1,
                         {run.options.inputPath1, run.options.inputPath2, timeText}, out);
    out.flush();
    written = !out.failed();
  }

  if (!closeStream(run.inputStream1)) throw Error("Could not close 1st input profile file");
  if (!closeStream(run.inputStream2)) throw Error("Could not close 2nd input profile file");
  // A write that failed on the way counts as a failed close: the output is incomplete.
  const bool closed = run.outputFile ? closeStream(run.outputFile)
                                     : (std::fflush(output) == 0 && !std::ferror(output));
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
  }
  writeAll(environment.standardError, "*** qrvdiff error: " + message + "\n");
  return kErrorStatus;
}

int runQrvdiff(int argumentCount, const char* const* arguments) {
  return runQrvdiff(argumentCount, arguments, RunEnvironment{});
}

}  // namespace qrvdiff
