// libFuzzer target: one whole comparison, in process, on one input that holds both listings.
//
// Input layout: listing 1, the separator kListingSeparator, listing 2. Without a separator the
// whole input serves as both listings, so the run compares a listing with itself.
//
// The run follows the program's own sequence: listing 2 is read whole, listing 1 up to its
// SUMMARY line, then pairing (on one thread or two), tallies and the compared listing. Each
// listing is read either in place or streamed through a source that hands out small pieces; both
// sit in heap blocks of their exact size, so a read past a listing's end is caught.
// A qrvdiff::Error is an expected outcome of a malformed input. Anything else is a finding: a
// crash, a sanitizer report, another exception, or a broken invariant, which aborts with a
// message on standard error:
//   - the line texts of both listings never change; only listing 2's lines get marks, "^" or
//     "v", as many as the points gained and lost;
//   - the compared listing differs from the same listing written without marks only in columns
//     10 and 21 of its lines, and there in every mark that differs from the character read;
//   - the listing totals are the sums of the file tallies;
//   - a listing compared with itself (no separator) whose "MONITORED " lines are all different
//     compares every function and gets no mark;
//   - the compared listing is the same whatever the capacity of the output buffer and whether it
//     is written in the background, ends with a line feed and holds no NUL byte;
//   - the program itself, run through runQrvdiff on the two listings written to files (so that it
//     reads function texts again from the files and may read listing 1 on a second thread), ends
//     as the in-memory run did: the same compared listing, or the same error message, status 255
//     and no output file.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "compare/pairing_schedule.h"
#include "compare/tallies.h"
#include "base/error.h"
#include "driver/run.h"
#include "listing/line_reader.h"
#include "listing/model.h"
#include "listing/parser.h"
#include "report/output_buffer.h"
#include "support/background_writing.h"
#include "report/writer.h"
#include "support/decoded_lines.h"
#include "support/string_sink.h"

namespace {

using qrvdiff::testing::allLines;
using qrvdiff::testing::StringSink;

using namespace qrvdiff;

// Holds NUL bytes, so it never occurs inside a listing that could be read without error.
constexpr std::string_view kListingSeparator{"\0==listing 2==\0", 15};

constexpr std::string_view kTimeText = "Thu Jan  1 00:00:00 1970\n";

// The files of the whole-program run. They are created once, then unlinked at once, so nothing is
// left behind however the process ends; the run reaches them as /proc/self/fd/N.
struct ScratchFiles {
  int descriptor1;
  int descriptor2;
  int outputDescriptor;
  std::string path1;
  std::string path2;
  std::string output;
  std::string standardOutput;
  std::string standardError;
};

int unlinkedFile(const std::string& directory, const char* name) {
  const std::string path = directory + "/" + name;
  const int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (descriptor < 0 || unlink(path.c_str()) != 0) {
    std::perror("whole_run_fuzzer: scratch file");
    std::abort();
  }
  return descriptor;
}

std::string procPath(int descriptor) {
  return "/proc/self/fd/" + std::to_string(descriptor);
}

const ScratchFiles& scratch() {
  static const ScratchFiles files = [] {
    const char* base = std::getenv("QRVDIFF_FUZZ_SCRATCH");
    if (base == nullptr) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string directory = std::string(base) + "/qrvdiff-fuzz-XXXXXX";
    if (mkdtemp(directory.data()) == nullptr) {
      std::perror("whole_run_fuzzer: mkdtemp");
      std::abort();
    }
    ScratchFiles made{};
    made.descriptor1 = unlinkedFile(directory, "listing1.txt");
    made.descriptor2 = unlinkedFile(directory, "listing2.txt");
    made.outputDescriptor = unlinkedFile(directory, "compared.txt");
    const int standardOutput = unlinkedFile(directory, "stdout");
    const int standardError = unlinkedFile(directory, "stderr");
    rmdir(directory.c_str());
    made.path1 = procPath(made.descriptor1);
    made.path2 = procPath(made.descriptor2);
    made.output = procPath(made.outputDescriptor);
    made.standardOutput = procPath(standardOutput);
    made.standardError = procPath(standardError);
    return made;
  }();
  return files;
}

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "whole_run_fuzzer: invariant broken: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

void check(bool ok, const char* what) {
  if (!ok) finding(what);
}

// Hands out the input in pieces of at most `chunk` bytes, so the line reader's refill path runs
// for small inputs too.
class ChunkedSource final : public ByteSource {
 public:
  ChunkedSource(std::string_view bytes, std::size_t chunk) : source_(bytes), chunk_(chunk) {}
  std::size_t read(char* buffer, std::size_t capacity) override {
    return source_.read(buffer, capacity < chunk_ ? capacity : chunk_);
  }

 private:
  MemorySource source_;
  std::size_t chunk_;
};

// A cheap, deterministic mix of the input that picks the chunk size and buffer capacity.
std::uint64_t mix(const std::uint8_t* data, std::size_t size) {
  std::uint64_t hash = 0x9e3779b97f4a7c15ULL ^ size;
  const std::size_t step = size / 64 + 1;
  for (std::size_t i = 0; i < size; i += step) hash = (hash ^ data[i]) * 0x100000001b3ULL;
  return hash;
}

std::vector<std::string> lineTexts(const ProfileListing& listing) {
  std::vector<std::string> texts;
  for (const LineRecord& line : allLines(listing)) texts.emplace_back(line.view());
  return texts;
}

bool headersAreDistinct(const ProfileListing& listing) {
  std::unordered_set<std::string_view> seen;
  for (const MonitoredFile& file : listing.files) {
    if (!seen.insert(file.headerLine).second) return false;
  }
  return true;
}

std::string writeListing(ProfileListing& second, ProfileListing& first,
                         std::size_t capacity, bool inBackground = false) {
  StringSink sink;
  qrvdiff::testing::OptionalBackgroundWriter writer(inBackground);
  OutputBuffer out(sink, capacity, writer.get());
  writeComparedListing({FirstListing(first), SecondListing(second)}, {scratch().path1, scratch().path2, kTimeText}, out);
  out.flush();
  check(!out.failed(), "a sink that never fails made the output buffer fail");
  return std::move(sink.bytes);
}

// Reads one listing from its own heap block, in place or streamed in pieces of `chunk` bytes.
template <typename Read>
void readListing(std::unique_ptr<char[]>& block, std::string_view text, std::size_t chunk,
                 const std::string& path, Read read) {
  block = std::make_unique_for_overwrite<char[]>(text.size());
  if (!text.empty()) std::memcpy(block.get(), text.data(), text.size());
  const std::string_view bytes(block.get(), text.size());
  if (chunk == 0) {
    LineReader reader(bytes, path);
    read(reader);
  } else {
    ChunkedSource source(bytes, chunk);
    LineReader reader(source, path, 0);
    read(reader);
  }
}

// Compares the compared listing with the same listing written without marks; returns the number
// of characters in which they differ.
std::size_t checkMarkedOutput(const std::string& marked, const std::string& plain) {
  std::size_t differences = 0;
  std::size_t m = 0;
  std::size_t p = 0;
  while (m < marked.size() && p < plain.size()) {
    const std::size_t mEnd = marked.find('\n', m);
    const std::size_t pEnd = plain.find('\n', p);
    check(mEnd != std::string::npos && pEnd != std::string::npos, "an output line without end");
    check(mEnd - m == pEnd - p, "a mark changed the length of an output line");
    for (std::size_t c = 0; c < mEnd - m; ++c) {
      if (marked[m + c] == plain[p + c]) continue;
      ++differences;
      check(c == column::kFirstMark || c == column::kSecondMark, "a mark outside columns 10/21");
      check(marked[m + c] == '^' || marked[m + c] == 'v', "a mark other than ^ and v");
    }
    m = mEnd + 1;
    p = pEnd + 1;
  }
  check(m == marked.size() && p == plain.size(), "marks changed the number of output lines");
  return differences;
}

// The in-memory run; returns the compared listing.
std::string compareListings(std::string_view text1, std::string_view text2, bool selfCompare,
                            std::uint64_t knobs) {
  // Chunk 0 reads the listing in place.
  static constexpr std::size_t kChunks[] = {0, 0, 1 << 20, 1, 3, 64, 4097, 8191};
  static constexpr std::size_t kCapacities[] = {1, 2, 77, 4096};
  const std::size_t chunk = kChunks[knobs % std::size(kChunks)];
  const std::size_t capacity = kCapacities[(knobs >> 8) % std::size(kCapacities)];
  // Background writing hands over each block; tiny blocks would only make runs slow.
  const bool inBackground = capacity >= 77 && (knobs >> 16) % 2 == 0;
  // The program pairs on two threads only for large listings; here small ones get them too.
  const std::size_t pairingThreads = (knobs >> 20) % 2 + 1;

  std::unique_ptr<char[]> block2;
  std::unique_ptr<char[]> block1;
  ProfileListing listing2;
  ProfileListing listing1;
  reserveForListingSize(listing2, text2.size());
  readListing(block2, text2, chunk, scratch().path2,
              [&](LineReader& reader) { readSecondListing(reader, listing2); });
  reserveForListingSize(listing1, text1.size());
  readListing(block1, text1, chunk, scratch().path1,
              [&](LineReader& reader) { readFirstListing(reader, listing1, listing2); });

  const std::vector<std::string> before2 = lineTexts(listing2);
  const std::vector<std::string> before1 = lineTexts(listing1);
  pairFiles({FirstListing(listing1), SecondListing(listing2)}, pairingThreads);
  computeTallies(listing2);

  check(lineTexts(listing1) == before1, "a line of listing 1 changed");
  check(lineTexts(listing2) == before2, "a line of listing 2 changed");
  // Marks, and those that must show in the output: marks that differ from the character read in
  // their column.
  std::size_t markCount = 0;
  std::size_t visibleMarks = 0;
  for (const LineRecord& line : allLines(listing2)) {
    for (const std::size_t markColumn : {column::kFirstMark, column::kSecondMark}) {
      const char mark =
          markColumn == column::kFirstMark ? line.info.firstMark() : line.info.secondMark();
      check(mark == 0 || mark == '^' || mark == 'v', "a mark other than ^ and v");
      if (mark == 0) continue;
      ++markCount;
      if (line.text[markColumn] != mark) ++visibleMarks;
    }
  }
  for (const LineRecord& line : allLines(listing1)) {
    check(!line.info.isMarked(), "a line of listing 1 got a mark");
  }

  CoverageTally sum;
  for (const MonitoredFile& file : listing2.files) sum += file.tally;
  const CoverageTally& totals = listing2.totals;
  check(sum.functionsCompared == totals.functionsCompared && sum.keptCount == totals.keptCount &&
            sum.gainedCount == totals.gainedCount && sum.lostCount == totals.lostCount &&
            sum.coveredCount == totals.coveredCount && sum.pointCount == totals.pointCount &&
            sum.naFunctionCount == totals.naFunctionCount &&
            sum.statementCovered == totals.statementCovered &&
            sum.statementTotal == totals.statementTotal,
        "listing totals differ from the sum of the file tallies");
  check(markCount == std::size_t{totals.gainedCount} + totals.lostCount,
        "the number of marks differs from the points gained and lost");

  if (selfCompare && headersAreDistinct(listing2)) {
    check(totals.functionsCompared == listing2.functions.size(),
          "a listing compared with itself left a function uncompared");
    check(markCount == 0, "a listing compared with itself got a mark");
  }

  const std::string output = writeListing(listing2, listing1, capacity, inBackground);
  check(!output.empty() && output.back() == '\n', "the compared listing does not end a line");
  check(output.find('\0') == std::string::npos, "the compared listing holds a NUL byte");
  check(writeListing(listing2, listing1, 1 << 16) == output,
        "the compared listing depends on the output buffer's capacity");
  if (markCount != 0) {
    for (LineInfo& info : listing2.lineInfos) info = LineInfo(info.kind(), info.trailingMarker());
    check(checkMarkedOutput(output, writeListing(listing2, listing1, 1 << 16)) == visibleMarks,
          "the output does not show every mark");
  }
  return output;
}

void replaceContent(int descriptor, std::string_view bytes) {
  check(ftruncate(descriptor, 0) == 0, "cannot empty a scratch file");
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count =
        pwrite(descriptor, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    check(count > 0, "cannot write a scratch file");
    done += static_cast<std::size_t>(count);
  }
}

std::optional<std::string> readFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::string bytes;
  char block[65536];
  for (std::size_t count; (count = std::fread(block, 1, sizeof block, file)) != 0;) {
    bytes.append(block, count);
  }
  std::fclose(file);
  return bytes;
}

// The program itself on the same two listings, as files: it reads listing 1 on a second thread
// while it reads listing 2 when it can, and must end exactly as the in-memory run did.
// The program itself on the same two listings, as files: it reads function texts again from the
// files and listing 1 on a second thread while it reads listing 2, and must end exactly as the
// in-memory run did.
void checkWholeProgram(std::string_view text1, std::string_view text2,
                       const std::optional<std::string>& output, const std::string& message) {
  const ScratchFiles& files = scratch();
  constexpr std::string_view kUntouched = "left from before the run\n";
  replaceContent(files.descriptor1, text1);
  replaceContent(files.descriptor2, text2);
  replaceContent(files.outputDescriptor, kUntouched);
  std::FILE* standardOutput = std::fopen(files.standardOutput.c_str(), "w+b");
  std::FILE* standardError = std::fopen(files.standardError.c_str(), "w+b");
  check(standardOutput != nullptr && standardError != nullptr, "cannot open scratch streams");
  RunEnvironment environment{standardOutput, standardError, [] { return std::string(kTimeText); }};
  const char* const arguments[] = {"qrvdiff",           "-i1", files.path1.c_str(), "-i2",
                                   files.path2.c_str(), "-p",  files.output.c_str()};
  const int status = runQrvdiff(static_cast<int>(std::size(arguments)), arguments, environment);
  std::fclose(standardOutput);
  std::fclose(standardError);

  check(readFile(files.standardOutput).value_or("?").empty(), "the program wrote to stdout");
  const std::string errors = readFile(files.standardError).value_or("?");
  if (output) {
    check(status == 0, "the program failed where the in-memory run succeeded");
    check(errors.empty(), "the program reported an error where the in-memory run did not");
    check(readFile(files.output) == *output, "the program's output differs from the in-memory run");
  } else {
    check(status == 255, "the program succeeded where the in-memory run failed");
    check(errors == "*** qrvdiff error: " + message + "\n",
          "the program's error message differs from the in-memory run's");
    check(readFile(files.output) == kUntouched, "an input error touched the output file");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find(kListingSeparator);
  const bool selfCompare = split == std::string_view::npos;
  const std::string_view text1 = selfCompare ? input : input.substr(0, split);
  const std::string_view text2 =
      selfCompare ? input : input.substr(split + kListingSeparator.size());
  std::optional<std::string> output;
  std::string message;
  try {
    output = compareListings(text1, text2, selfCompare, mix(data, size));
  } catch (const Error& error) {
    // A malformed listing: the program reports it and stops.
    message = error.what();
  }
  checkWholeProgram(text1, text2, output, message);
  return 0;
}
