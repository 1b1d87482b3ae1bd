// Properties of a whole comparison, checked on many generated listings: a listing compared with
// itself shows no difference; marks change nothing but columns 10 and 21 of listing 2's lines;
// swapping the two listings swaps gained and lost points.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compare/pairing_schedule.h"
#include "compare/tallies.h"
#include "listing/line_reader.h"
#include "listing/model.h"
#include "listing/parser.h"
#include "report/output_buffer.h"
#include "report/writer.h"
#include "support/decoded_lines.h"
#include "support/string_sink.h"

namespace qrvdiff {
namespace {

using testing::allLines;
using testing::linesOf;
using testing::StringSink;

constexpr int kSeeds = 300;

// splitmix64: the same sequence on every platform, unlike the standard distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed * 0x9e3779b97f4a7c15ULL + 1) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
  bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }
  template <typename T, std::size_t N>
  const T& pick(const std::array<T, N>& items) {
    return items[below(N)];
  }

 private:
  std::uint64_t state_;
};

// ---------------------------------------------------------------------------------------------
// The shape of a listing: everything that pairing looks at. Counter values, coverage flags and
// line numbers are chosen anew each time a shape is written out, so two listings of one shape
// pair function by function but differ in coverage.

enum class Counters { None, First, Second, Both };

struct LineShape {
  std::string description;  // from column 30 on; "\x01" stands for a "+" or "-" of an MC/DC row
  Counters counters = Counters::First;
};

struct FunctionShape {
  std::optional<std::string> lineDirective;  // from column 30 on
  std::string name;
  std::vector<LineShape> lines;  // after the FUNCTION line
  bool statementNA = false;
  int statementTotal = 0;
};

struct FileShape {
  std::string name;
  std::string mode;
  std::vector<std::string> includes;
  std::vector<FunctionShape> functions;
};

struct ListingShape {
  std::string coverageView;
  std::vector<FileShape> files;
};

struct GeneratorOptions {
  // Flags other than blank and "-", characters already in the mark columns and in column 23.
  bool oddColumns = false;
  // Constant conditions with both counters: counted as lost but never as gained.
  bool constantsWithBothCounters = true;
};

constexpr std::array<std::string_view, 23> kHitsKeywords = {"goto out",
                                                            "continue",
                                                            "continue /* next */",
                                                            "break",
                                                            "break /* out */",
                                                            "return",
                                                            "return n + 1",
                                                            "throw",
                                                            "throw Error(\"bad\")",
                                                            "__leave",
                                                            "catch (const Error& e)",
                                                            "__except",
                                                            "__finally",
                                                            "lambda-[]()",
                                                            "foreach (auto& item : items)",
                                                            "User counter: c1",
                                                            "missing-default:",
                                                            "lambda-()->",
                                                            "case 1:",
                                                            "case 2:+",
                                                            "default:",
                                                            "default:+",
                                                            "FUNCTION inner(void)"};
constexpr std::array<std::string_view, 6> kDecisions = {
    "if (a < b)",           "else if (c)",        "do-while (more())",
    "ternary-?: d ? 1 : 2", "expr-andor: e && f", "COND g == 0"};
constexpr std::array<std::string_view, 2> kLoops = {"for (i = 0; i < n; ++i)", "while (more())"};
constexpr std::array<std::string_view, 3> kConstants = {"const-true", "const-false",
                                                        "const-if (0)"};
constexpr std::array<std::string_view, 4> kConditionRows = {"1  T T", "2  F -", "3  - F", "12 T F"};
constexpr std::array<std::string_view, 3> kMcdcRows = {
    "MC/DC a && b      : \x01\x01", "MC/DC (c || d) && e : \x01\x01\x01", "MC/DC f : \x01"};
constexpr std::array<std::string_view, 5> kFirstCounterRows = {"try", "__try", "}", "}+", "}-"};
constexpr std::array<std::string_view, 8> kPlainRows = {
    "switch (x)",         "else",  "do",      "User annotation: reviewed",
    "#line 77 \"gen.c\"", "done:", "again:+", "breakpoint:"};
constexpr std::array<std::string_view, 5> kViews = {
    "As instrumented", "Reduced to MC/DC coverage", "Reduced to function coverage",
    "Reduced to decision coverage", "As instrumented"};
constexpr std::array<std::string_view, 5> kModes = {"multiple condition", "decision",
                                                    "multiple condition", "function", "functional"};
constexpr std::array<std::string_view, 6> kNames = {"int f(void)",        "int f(void)",
                                                    "static void g(int)", "T h<T>(T)",
                                                    "main(int, char**)",  "long k(long)"};

LineShape randomLine(Random& random, const GeneratorOptions& options) {
  LineShape line;
  const std::string indent(random.chance(30) ? random.below(4) : 0, ' ');
  const auto shape = [&](std::string_view description, Counters counters) {
    line.description = indent + std::string(description);
    line.counters = counters;
  };
  switch (random.below(10)) {
    case 0:
    case 1:
      shape(random.pick(kHitsKeywords), random.chance(85) ? Counters::First : Counters::None);
      break;
    case 2:
    case 3: {
      static constexpr std::array<Counters, 4> kAny = {Counters::Both, Counters::Both,
                                                       Counters::First, Counters::Second};
      shape(random.pick(kDecisions), random.pick(kAny));
      break;
    }
    case 4:
      // The loop rule: a second counter makes a decision, none a plain hit.
      if (random.chance(50)) {
        shape(random.pick(kLoops), random.chance(80) ? Counters::Both : Counters::Second);
      } else {
        shape(random.pick(kLoops), random.chance(80) ? Counters::First : Counters::None);
      }
      break;
    case 5: {
      static constexpr std::array<Counters, 3> kOne = {Counters::First, Counters::Second,
                                                       Counters::None};
      Counters counters = random.pick(kOne);
      if (options.constantsWithBothCounters && random.chance(20)) counters = Counters::Both;
      shape(random.pick(kConstants), counters);
      break;
    }
    case 6: {
      static constexpr std::array<Counters, 3> kRow = {Counters::First, Counters::Second,
                                                       Counters::Both};
      shape(random.pick(kConditionRows), random.pick(kRow));
      break;
    }
    case 7:
      shape(random.pick(kMcdcRows), random.chance(50) ? Counters::Second : Counters::None);
      break;
    case 8:
      shape(random.pick(kFirstCounterRows), random.chance(60) ? Counters::First : Counters::None);
      break;
    default:
      shape(random.pick(kPlainRows), random.chance(80) ? Counters::None : Counters::First);
      break;
  }
  return line;
}

FunctionShape randomFunction(Random& random, const GeneratorOptions& options) {
  FunctionShape function;
  if (random.chance(15)) function.lineDirective = "#line " + std::to_string(random.below(500));
  function.name = std::string(random.pick(kNames));
  const std::size_t lineCount = random.below(14);
  for (std::size_t i = 0; i < lineCount; ++i) function.lines.push_back(randomLine(random, options));
  function.statementNA = random.chance(15);
  function.statementTotal = function.statementNA ? 0 : static_cast<int>(random.below(40));
  return function;
}

ListingShape randomShape(Random& random, const GeneratorOptions& options) {
  ListingShape shape;
  shape.coverageView = std::string(random.pick(kViews));
  const std::size_t fileCount = random.below(5);
  for (std::size_t f = 0; f < fileCount; ++f) {
    FileShape file;
    file.name = "src/gen" + std::to_string(f) + ".c";
    file.mode = std::string(random.chance(75) ? kModes[0] : random.pick(kModes));
    for (std::size_t i = random.below(3); i > 0; --i) {
      file.includes.push_back("#include \"inc" + std::to_string(random.below(9)) + ".h\"");
    }
    for (std::size_t i = random.below(7); i > 0; --i) {
      file.functions.push_back(randomFunction(random, options));
    }
    shape.files.push_back(std::move(file));
  }
  return shape;
}

// Listing 1 of a pair: the same shape with some functions and files changed, dropped or added,
// so that pairing also finds different and missing functions.
ListingShape perturb(ListingShape shape, Random& random, const GeneratorOptions& options) {
  std::vector<FileShape> files;
  for (FileShape& file : shape.files) {
    if (random.chance(8)) continue;
    std::vector<FunctionShape> functions;
    for (FunctionShape& function : file.functions) {
      switch (random.below(16)) {
        case 0:
          continue;  // missing in listing 1
        case 1:
          function.lines.insert(function.lines.begin() + random.below(function.lines.size() + 1),
                                randomLine(random, options));
          break;
        case 2:
          if (!function.lines.empty()) function.lines.pop_back();
          break;
        case 3:
          ++function.statementTotal;
          function.statementNA = false;
          break;
        case 4:
          function.lineDirective =
              function.lineDirective ? std::nullopt : std::optional<std::string>("#line 1");
          break;
        case 5:
          function.name += " const";
          break;
        default:
          break;
      }
      functions.push_back(std::move(function));
    }
    if (random.chance(10)) functions.push_back(randomFunction(random, options));
    file.functions = std::move(functions);
    files.push_back(std::move(file));
  }
  if (random.chance(15)) {
    FileShape extra;
    extra.name = "src/only_in_listing_1.c";
    extra.mode = std::string(kModes[0]);
    extra.functions.push_back(randomFunction(random, options));
    files.insert(files.begin() + random.below(files.size() + 1), std::move(extra));
  }
  shape.files = std::move(files);
  return shape;
}

// ---------------------------------------------------------------------------------------------
// Writing a shape out as listing text.

class ListingWriter {
 public:
  ListingWriter(Random& random, const GeneratorOptions& options)
      : random_(random), options_(options), lineEnd_(random.chance(10) ? "\r\n" : "\n") {}

  std::string write(const ListingShape& shape) {
    line(std::string(77, '*'));
    line("*           QRV++, Test Coverage Analyzer for C/C++, Version 9.1            *");
    line("*" + std::string(75, ' ') + "*");
    line("*                         EXECUTION PROFILE LISTING                         *");
    line("*" + std::string(75, ' ') + "*");
    line(std::string(77, '*'));
    line("");
    line("Listing produced at   : Mon Nov 30 14:02:" + std::to_string(10 + random_.below(50)) +
         " 2026");
    line("Coverage view         : " + shape.coverageView);
    line("");
    line("");
    const bool functionView = shape.coverageView.starts_with("Reduced to function coverage");
    std::size_t functionCount = 0;
    for (const FileShape& file : shape.files) {
      writeFile(file, functionView || file.mode.starts_with("functi"));
      functionCount += file.functions.size();
    }
    line("SUMMARY");
    line("=======");
    line("");
    line("Source files       : " + std::to_string(shape.files.size()));
    line("Headers extracted  : 0");
    line("Functions          : " + std::to_string(functionCount));
    line("Source lines       : " + std::to_string(random_.below(5000)));
    line("TER                : 50 % (1/2) of " + std::to_string(shape.files.size()) +
         " source files");
    line("TER                : 50 % (1/2) statement");
    // After the summary, a last piece of a line without its line feed is accepted.
    if (random_.chance(20)) text_ += "(end of listing)";
    return std::move(text_);
  }

 private:
  void line(const std::string& text) {
    text_ += text;
    text_ += lineEnd_;
  }

  char flag() {
    if (options_.oddColumns && random_.chance(10)) return "*+x#"[random_.below(4)];
    return random_.chance(50) ? ' ' : '-';
  }
  char columnFiller(int percent, std::string_view choices) {
    if (!options_.oddColumns || !random_.chance(percent)) return ' ';
    return choices[random_.below(choices.size())];
  }
  std::string counter() {
    if (random_.chance(40)) return "0";
    std::string digits = std::to_string(1 + random_.below(random_.chance(50) ? 9 : 99999999));
    if (random_.chance(3)) digits = "9999999999";  // ten digits fill the whole field
    return digits;
  }

  // A function-section line: counters right-aligned in columns 0-9 and 11-20, the coverage flag
  // in column 22, the line number in 24-29, the description from column 30.
  std::string functionSectionLine(Counters counters, std::string_view description) {
    std::string text(30, ' ');
    if (counters == Counters::First || counters == Counters::Both) {
      const std::string value = counter();
      text.replace(10 - value.size(), value.size(), value);
    }
    if (counters == Counters::Second || counters == Counters::Both) {
      const std::string value = counter();
      text.replace(21 - value.size(), value.size(), value);
    }
    text[10] = columnFiller(20, "^v*");
    text[21] = columnFiller(20, "^v*");
    text[22] = flag();
    text[23] = columnFiller(20, "ab");
    const std::string number = std::to_string(1 + random_.below(99999));
    text.replace(30 - number.size(), number.size(), number);
    for (const char c : description) text += c == '\x01' ? (random_.chance(50) ? '+' : '-') : c;
    return text;
  }

  void writeFile(const FileShape& file, bool functionForm) {
    line("MONITORED SOURCE FILE : " + file.name);
    line("INSTRUMENTATION MODE  : " + file.mode);
    line("");
    line(" HITS/TRUE      FALSE    LINE DESCRIPTION");
    line(std::string(77, '='));
    line("");
    for (const std::string& include : file.includes) line(include);
    for (const FunctionShape& function : file.functions) writeFunction(function, functionForm);
    line("");
    line("***TER  50 % (  1/  2) of FILE " + file.name);
    line("        50 % (  1/  2) statement");
    line(std::string(77, '-'));
    line("");
    line("");
    line("");
  }

  void writeFunction(const FunctionShape& function, bool functionForm) {
    if (function.lineDirective) line(std::string(30, ' ') + *function.lineDirective);
    line(functionSectionLine(Counters::First, "FUNCTION " + function.name));
    if (functionForm) return;
    for (const LineShape& shape : function.lines) {
      line(functionSectionLine(shape.counters, shape.description));
    }
    line("");
    const std::size_t points = random_.below(60);
    line("***TER  50 % (" + std::to_string(random_.below(points + 1)) + "/" +
         std::to_string(points) + ") of FUNCTION " + function.name);
    if (function.statementNA) {
      line("       N.A. statement");
    } else {
      line("        50 % (" + std::to_string(random_.below(function.statementTotal + 1)) + "/" +
           std::to_string(function.statementTotal) + ") statement");
    }
    line(std::string(77, '-'));
    line("");
  }

  Random& random_;
  GeneratorOptions options_;
  std::string lineEnd_;
  std::string text_;
};

// ---------------------------------------------------------------------------------------------
// Running a comparison in process.

struct Comparison {
  std::string text1;
  std::string text2;
  ProfileListing first;
  ProfileListing second;
  ListingPair listings() { return {FirstListing(first), SecondListing(second)}; }
};

// Reads both listings and pairs them; the tallies are left to the caller. Listing 2 is read in
// place, listing 1 streamed in small blocks, so both ways of reading take part.
std::unique_ptr<Comparison> readAndPair(std::string text1, std::string text2) {
  auto comparison = std::make_unique<Comparison>();
  comparison->text1 = std::move(text1);
  comparison->text2 = std::move(text2);
  {
    LineReader reader(std::string_view(comparison->text2), "l2.txt");
    readSecondListing(reader, comparison->second);
  }
  {
    MemorySource source(comparison->text1);
    LineReader reader(source, "l1.txt", 0);
    readFirstListing(reader, comparison->first, comparison->second);
  }
  pairFiles(comparison->listings());
  return comparison;
}

std::string writeOutput(Comparison& comparison) {
  StringSink sink;
  OutputBuffer out(sink);
  writeComparedListing(comparison.listings(), {"l1.txt", "l2.txt", "Thu Jan  1 00:00:00 1970\n"},
                       out);
  out.flush();
  return std::move(sink.bytes);
}

std::vector<std::string> lineTexts(const ProfileListing& listing) {
  std::vector<std::string> texts;
  for (const LineRecord& line : allLines(listing)) texts.emplace_back(line.view());
  return texts;
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

std::string describe(int seed, const CoverageTally& totals) {
  return "seed " + std::to_string(seed) + ": compared " + std::to_string(totals.functionsCompared) +
         ", kept " + std::to_string(totals.keptCount) + ", gained " +
         std::to_string(totals.gainedCount) + ", lost " + std::to_string(totals.lostCount);
}

TEST(ComparisonProperties, AListingComparedWithItselfShowsNoDifference) {
  std::array<std::size_t, 7> kindsSeen{};
  std::size_t keptTotal = 0;
  for (int seed = 0; seed < kSeeds; ++seed) {
    Random random(seed);
    GeneratorOptions options;
    options.oddColumns = seed % 3 == 0;
    const ListingShape shape = randomShape(random, options);
    const std::string text = ListingWriter(random, options).write(shape);

    std::unique_ptr<Comparison> comparison;
    ASSERT_NO_THROW(comparison = readAndPair(text, text)) << "seed " << seed << "\n" << text;
    ProfileListing& second = comparison->second;
    for (const FunctionRecord& function : second.functions) {
      ASSERT_EQ(function.pairState, PairState::Compared) << "seed " << seed;
    }
    computeTallies(second);

    const std::string context = describe(seed, second.totals);
    EXPECT_EQ(second.totals.functionsCompared, second.functions.size()) << context;
    EXPECT_EQ(second.totals.gainedCount, 0u) << context;
    EXPECT_EQ(second.totals.lostCount, 0u) << context;
    for (const MonitoredFile& file : second.files) {
      EXPECT_EQ(file.tally.gainedCount, 0u) << context;
      EXPECT_EQ(file.tally.lostCount, 0u) << context;
    }
    for (const FunctionRecord& function : second.functions) {
      EXPECT_EQ(function.gainedCount, 0u) << context;
      EXPECT_EQ(function.lostCount, 0u) << context;
    }
    for (const LineRecord& line : allLines(second)) {
      EXPECT_FALSE(line.info.isMarked()) << context << "\n" << line.view();
      ++kindsSeen[static_cast<std::size_t>(line.kind())];
    }
    keptTotal += second.totals.keptCount;

    // Every bracket of amounts in the output, at function, file and summary level, ends in
    // "+ 0 - 0]".
    const std::string output = writeOutput(*comparison);
    for (const std::string_view line : splitLines(output)) {
      const std::size_t open = line.find("([");
      if (open == std::string_view::npos) continue;
      const std::size_t close = line.find(']', open);
      ASSERT_NE(close, std::string_view::npos) << context << "\n" << line;
      EXPECT_TRUE(line.substr(0, close).ends_with(" + 0 - 0")) << context << "\n" << line;
    }
  }
  for (std::size_t kind = 0; kind < kindsSeen.size(); ++kind) {
    EXPECT_GT(kindsSeen[kind], 0u) << "the generator made no line of kind " << kind;
  }
  EXPECT_GT(keptTotal, 0u);
}

TEST(ComparisonProperties, MarksChangeOnlyColumnsTenAndTwentyOneOfListingTwo) {
  std::array<std::array<std::size_t, 2>, 7> marksByKind{};  // [kind][gained, lost]
  std::array<std::size_t, 3> states{};
  for (int seed = 0; seed < kSeeds; ++seed) {
    Random random(1000 + seed);
    GeneratorOptions options;
    options.oddColumns = seed % 2 == 0;
    const ListingShape shape = randomShape(random, options);
    const ListingShape shape1 = random.chance(70) ? shape : perturb(shape, random, options);
    const std::string text2 = ListingWriter(random, options).write(shape);
    const std::string text1 = ListingWriter(random, options).write(shape1);

    std::unique_ptr<Comparison> comparison;
    ASSERT_NO_THROW(comparison = readAndPair(text1, text2)) << "seed " << seed;
    ProfileListing& second = comparison->second;
    const std::vector<std::string> before1 = lineTexts(comparison->first);
    const std::vector<std::string> before2 = lineTexts(second);
    computeTallies(second);
    const std::string context = describe(seed, second.totals);

    EXPECT_EQ(lineTexts(comparison->first), before1) << context;
    EXPECT_EQ(lineTexts(second), before2) << context;
    for (const LineRecord& line : allLines(comparison->first)) EXPECT_FALSE(line.info.isMarked());

    for (const FunctionRecord& function : second.functions) {
      ++states[static_cast<std::size_t>(function.pairState)];
      std::uint32_t gained = 0;
      std::uint32_t lost = 0;
      const std::vector<LineRecord> lines = linesOf(second, function);
      for (std::size_t i = 0; i < function.lineCount; ++i) {
        const std::string marked = lines[i].markedText();
        const std::string_view read = lines[i].view();
        ASSERT_EQ(marked.size(), read.size()) << context;
        for (std::size_t c = 0; c < marked.size(); ++c) {
          const bool markColumn = c == column::kFirstMark || c == column::kSecondMark;
          if (!markColumn) {
            EXPECT_EQ(marked[c], read[c]) << context << "\ncolumn " << c << " of " << read;
            continue;
          }
          const char mark =
              c == column::kFirstMark ? lines[i].info.firstMark() : lines[i].info.secondMark();
          EXPECT_TRUE(mark == 0 || mark == '^' || mark == 'v') << context;
          if (mark == 0) continue;
          EXPECT_EQ(marked[c], mark) << context;
          EXPECT_EQ(function.pairState, PairState::Compared) << context;
          const std::size_t kind = static_cast<std::size_t>(lines[i].kind());
          if (mark == '^') {
            ++gained;
            ++marksByKind[kind][0];
          } else {
            ++lost;
            ++marksByKind[kind][1];
          }
        }
      }
      // Each point gained or lost is one mark, and no two points share a mark column.
      if (function.pairState == PairState::Compared) {
        EXPECT_EQ(gained, function.gainedCount) << context;
        EXPECT_EQ(lost, function.lostCount) << context;
      }
    }

    // The compared listing, against the same listing written without marks: the same lines,
    // differing only in columns 10 and 21, which show "^" or "v".
    const std::string markedOutput = writeOutput(*comparison);
    for (LineInfo& info : second.lineInfos) info = LineInfo(info.kind(), info.trailingMarker());
    const std::string plainOutput = writeOutput(*comparison);
    const std::vector<std::string_view> marked = splitLines(markedOutput);
    const std::vector<std::string_view> plain = splitLines(plainOutput);
    ASSERT_EQ(marked.size(), plain.size()) << context;
    std::uint32_t differences = 0;
    for (std::size_t i = 0; i < marked.size(); ++i) {
      ASSERT_EQ(marked[i].size(), plain[i].size()) << context << "\n" << marked[i];
      for (std::size_t c = 0; c < marked[i].size(); ++c) {
        if (marked[i][c] == plain[i][c]) continue;
        ++differences;
        EXPECT_TRUE(c == column::kFirstMark || c == column::kSecondMark)
            << context << "\ncolumn " << c << " of " << marked[i];
        EXPECT_TRUE(marked[i][c] == '^' || marked[i][c] == 'v') << context << "\n" << marked[i];
      }
    }
    EXPECT_LE(differences, second.totals.gainedCount + second.totals.lostCount) << context;
    if (!options.oddColumns) {
      // Mark columns read as blanks, so every mark shows.
      EXPECT_EQ(differences, second.totals.gainedCount + second.totals.lostCount) << context;
    }
  }

  // The generated pairs reach every pairing outcome and mark every kind of measurement point
  // both ways.
  for (std::size_t state = 0; state < states.size(); ++state) {
    EXPECT_GT(states[state], 0u) << "no function ended in pair state " << state;
  }
  for (const LineKind kind : {LineKind::Hits, LineKind::TrueFalse, LineKind::Const,
                              LineKind::CondFirst, LineKind::CondSecond, LineKind::Mcdc}) {
    const auto& counts = marksByKind[static_cast<std::size_t>(kind)];
    EXPECT_GT(counts[0], 0u) << "no ^ on a line of kind " << static_cast<int>(kind);
    EXPECT_GT(counts[1], 0u) << "no v on a line of kind " << static_cast<int>(kind);
  }
  EXPECT_EQ(marksByKind[static_cast<std::size_t>(LineKind::None)][0], 0u);
  EXPECT_EQ(marksByKind[static_cast<std::size_t>(LineKind::None)][1], 0u);
}

TEST(ComparisonProperties, SwappingTheListingsSwapsGainedAndLost) {
  // With blanks and "-" as the only flags, and constants with at most one counter, every point
  // that is gained one way is lost the other way.
  GeneratorOptions options;
  options.constantsWithBothCounters = false;
  std::uint32_t moved = 0;
  for (int seed = 0; seed < kSeeds; ++seed) {
    Random random(2000 + seed);
    const ListingShape shapeA = randomShape(random, options);
    const ListingShape shapeB = random.chance(60) ? shapeA : perturb(shapeA, random, options);
    const std::string textA = ListingWriter(random, options).write(shapeA);
    const std::string textB = ListingWriter(random, options).write(shapeB);

    std::unique_ptr<Comparison> forward;
    std::unique_ptr<Comparison> backward;
    ASSERT_NO_THROW(forward = readAndPair(textA, textB)) << "seed " << seed;
    ASSERT_NO_THROW(backward = readAndPair(textB, textA)) << "seed " << seed;
    computeTallies(forward->second);
    computeTallies(backward->second);
    const CoverageTally& ab = forward->second.totals;
    const CoverageTally& ba = backward->second.totals;
    const std::string context = describe(seed, ab) + " / " + describe(seed, ba);
    EXPECT_EQ(ab.functionsCompared, ba.functionsCompared) << context;
    EXPECT_EQ(ab.keptCount, ba.keptCount) << context;
    EXPECT_EQ(ab.gainedCount, ba.lostCount) << context;
    EXPECT_EQ(ab.lostCount, ba.gainedCount) << context;
    moved += ab.gainedCount + ab.lostCount;
  }
  EXPECT_GT(moved, 0u);
}

}  // namespace
}  // namespace qrvdiff
