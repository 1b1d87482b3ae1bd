// Micro-benchmarks of the hot paths of qrvdiff: the line reader, the line classifier, the listing
// parser, pairing with marking, and the compared-listing writer.
//
// The data is a listing pair made by gen_listings at startup (shape "typical", seed 1), so the
// mix of lines is that of a real listing. Environment:
//   QRVDIFF_GEN_LISTINGS       path of gen_listings (default: the one built beside this program)
//   QRVDIFF_MICRO_BENCH_SIZE   size of listing 2, with gen_listings' suffixes (default 8M)
// Every benchmark reports bytes/s and items/s (lines/s), so results for different sizes compare.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "compare/pairing_schedule.h"
#include "compare/tallies.h"
#include "listing/classifier.h"
#include "listing/line_reader.h"
#include "listing/model.h"
#include "listing/parser.h"
#include "report/output_buffer.h"
#include "report/writer.h"
#include "support/decoded_lines.h"

#ifndef QRVDIFF_GEN_LISTINGS_PATH
#define QRVDIFF_GEN_LISTINGS_PATH "gen_listings"
#endif

namespace {

namespace fs = std::filesystem;

// The generated pair, read and compared once; the listings' texts point into `text1`/`text2`.
struct Corpus {
  std::string text1;
  std::string text2;
  std::uint64_t lineCount2 = 0;
  qrvdiff::ProfileListing listing1;
  qrvdiff::ProfileListing listing2;
  std::vector<qrvdiff::LineRecord> functionLines;  // every function-section line of listing 2
  std::uint64_t functionLineBytes = 0;
};

Corpus* corpus = nullptr;

std::string readWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::unique_ptr<Corpus> makeCorpus() {
  const char* generator = std::getenv("QRVDIFF_GEN_LISTINGS");
  if (generator == nullptr || *generator == '\0') generator = QRVDIFF_GEN_LISTINGS_PATH;
  const char* size = std::getenv("QRVDIFF_MICRO_BENCH_SIZE");
  if (size == nullptr || *size == '\0') size = "8M";

  std::string pattern = (fs::temp_directory_path() / "qrvdiff-micro-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a temporary folder");
  const fs::path folder = pattern;
  const fs::path path1 = folder / "listing1.txt";
  const fs::path path2 = folder / "listing2.txt";
  const std::string command = shellQuoted(generator) + " --seed 1 --shape typical --size " +
                              shellQuoted(size) + " --out1 " + shellQuoted(path1.string()) +
                              " --out2 " + shellQuoted(path2.string());
  const int status = std::system(command.c_str());
  auto result = std::make_unique<Corpus>();
  if (status == 0) {
    result->text1 = readWholeFile(path1);
    result->text2 = readWholeFile(path2);
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  if (status != 0) throw std::runtime_error("gen_listings failed: " + command);

  Corpus& c = *result;
  for (char ch : c.text2) c.lineCount2 += ch == '\n';
  qrvdiff::reserveForListingSize(c.listing2, c.text2.size());
  qrvdiff::LineReader reader2(c.text2, "listing2.txt");
  qrvdiff::readSecondListing(reader2, c.listing2);
  qrvdiff::reserveForListingSize(c.listing1, c.text1.size());
  qrvdiff::LineReader reader1(c.text1, "listing1.txt");
  qrvdiff::readFirstListing(reader1, c.listing1, c.listing2);
  qrvdiff::pairFiles({qrvdiff::FirstListing(c.listing1), qrvdiff::SecondListing(c.listing2)});
  qrvdiff::computeTallies(c.listing2);

  c.functionLines = qrvdiff::testing::allLines(c.listing2);
  for (const qrvdiff::LineRecord& line : c.functionLines) c.functionLineBytes += line.length + 1;
  return result;
}

void reportRate(benchmark::State& state, std::uint64_t bytes, std::uint64_t items) {
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
  state.SetItemsProcessed(static_cast<std::int64_t>(items) * state.iterations());
}

// ---------------------------------------------------------------------------------------------
// Line reader.

std::uint64_t readAllLines(qrvdiff::LineReader& reader) {
  std::uint64_t lines = 0;
  for (;;) {
    const qrvdiff::LineReader::Result result = reader.next();
    if (result != qrvdiff::LineReader::Result::Line) {
      if (result == qrvdiff::LineReader::Result::Malformed) throw std::runtime_error("malformed");
      return lines;
    }
    benchmark::DoNotOptimize(reader.line().data());
    ++lines;
  }
}

// Streamed input: blocks copied out of a source, as for a pipe or an unmappable file.
void BM_LineReaderMemorySource(benchmark::State& state) {
  const std::size_t blockSize = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    qrvdiff::MemorySource source(corpus->text2);
    qrvdiff::LineReader reader(source, "listing2.txt", blockSize);
    if (readAllLines(reader) != corpus->lineCount2) state.SkipWithError("line count differs");
  }
  reportRate(state, corpus->text2.size(), corpus->lineCount2);
}
BENCHMARK(BM_LineReaderMemorySource)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// Input whole in memory: lines are used in place.
void BM_LineReaderWholeInput(benchmark::State& state) {
  for (auto _ : state) {
    qrvdiff::LineReader reader(corpus->text2, "listing2.txt");
    if (readAllLines(reader) != corpus->lineCount2) state.SkipWithError("line count differs");
  }
  reportRate(state, corpus->text2.size(), corpus->lineCount2);
}
BENCHMARK(BM_LineReaderWholeInput)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Line classifier, over every function-section line of listing 2 in listing order, in place in
// the listing as the parser classifies them.

void BM_ClassifyLine(benchmark::State& state) {
  const std::vector<qrvdiff::LineRecord>& lines = corpus->functionLines;
  const char* const textEnd = corpus->text2.data() + corpus->text2.size();
  for (auto _ : state) {
    for (const qrvdiff::LineRecord& line : lines) {
      benchmark::DoNotOptimize(qrvdiff::classifyLine(line.view(), false, textEnd));
    }
    benchmark::ClobberMemory();
  }
  reportRate(state, corpus->functionLineBytes, lines.size());
}
BENCHMARK(BM_ClassifyLine)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Listing parser: listing 2 read whole (header, sections, classification, summary).

void BM_ReadSecondListing(benchmark::State& state) {
  for (auto _ : state) {
    qrvdiff::ProfileListing listing;
    qrvdiff::reserveForListingSize(listing, corpus->text2.size());
    qrvdiff::LineReader reader(corpus->text2, "listing2.txt");
    qrvdiff::readSecondListing(reader, listing);
    benchmark::DoNotOptimize(listing.lineInfos.data());
  }
  reportRate(state, corpus->text2.size(), corpus->lineCount2);
}
BENCHMARK(BM_ReadSecondListing)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Pairing: files and functions paired, structure tested and compared functions marked, on one
// thread. The pairing state of the corpus is reset (untimed) before each run.

void BM_PairFiles(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    for (qrvdiff::FunctionRecord& function : corpus->listing1.functions) function.taken = false;
    for (qrvdiff::LineInfo& info : corpus->listing2.lineInfos) {
      info = qrvdiff::LineInfo(info.kind(), info.trailingMarker());
    }
    state.ResumeTiming();
    qrvdiff::pairFiles(
        {qrvdiff::FirstListing(corpus->listing1), qrvdiff::SecondListing(corpus->listing2)}, 1);
  }
  reportRate(state, corpus->text1.size() + corpus->text2.size(), corpus->lineCount2);
}
BENCHMARK(BM_PairFiles)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Writer: the compared listing of the pair, into an output buffer whose sink discards the bytes.

class DiscardingSink final : public qrvdiff::ByteSink {
 public:
  bool write(const char* data, std::size_t size) override {
    benchmark::DoNotOptimize(data);
    bytes += size;
    ++writes;
    return true;
  }
  std::uint64_t bytes = 0;
  std::uint64_t writes = 0;
};

void BM_WriteComparedListing(benchmark::State& state) {
  const qrvdiff::ReportHeader header{"listing1.txt", "listing2.txt", "Mon Jan  1 00:00:00 2024\n"};
  std::uint64_t bytesPerRun = 0;
  std::uint64_t writesPerRun = 0;
  for (auto _ : state) {
    DiscardingSink sink;
    qrvdiff::OutputBuffer out(sink);
    qrvdiff::writeComparedListing(
        {qrvdiff::FirstListing(corpus->listing1), qrvdiff::SecondListing(corpus->listing2)}, header,
        out);
    out.flush();
    bytesPerRun = sink.bytes;
    writesPerRun = sink.writes;
  }
  reportRate(state, bytesPerRun, corpus->lineCount2);
  state.counters["sink_writes"] = static_cast<double>(writesPerRun);
}
BENCHMARK(BM_WriteComparedListing)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::unique_ptr<Corpus> data;
  try {
    data = makeCorpus();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "qrvdiff_micro_bench: %s\n", error.what());
    return 1;
  }
  corpus = data.get();
  std::fprintf(stderr,
               "qrvdiff_micro_bench: listing 2 %zu bytes, %llu lines (%zu function lines)\n",
               corpus->text2.size(), static_cast<unsigned long long>(corpus->lineCount2),
               corpus->functionLines.size());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
