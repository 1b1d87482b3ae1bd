#include "compare/marking.h"

#include <bit>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/error.h"
#include "listing/function_lines.h"
#include "listing/line_feed_scanner.h"

namespace qrvdiff {

namespace {

constexpr char kGained = '^';
constexpr char kLost = 'v';

void setMark(LineRecord& line, std::size_t markColumn, char mark) {
  line.info.setMark(markColumn, mark);
}

char flag(const LineRecord& line) {
  return line.text[column::kCoverageFlag];
}

// A point covered by its coverage flag: a blank is covered, "-" is not; any other flag in
// either line decides nothing.
void markByFlag(const LineRecord& first, LineRecord& second, std::size_t markColumn,
                MarkCounts& counts) {
  const char before = flag(first);
  const char after = flag(second);
  if (before == ' ' && after == ' ') {
    ++counts.kept;
  } else if (before == ' ' && after == '-') {
    ++counts.lost;
    setMark(second, markColumn, kLost);
  } else if (before == '-' && after == ' ') {
    ++counts.gained;
    setMark(second, markColumn, kGained);
  }
}

// Whether the counter value of a field is not zero: as soon as a digit other than "0" is read it
// cannot be, and a character that ends the reading before that leaves it zero. Blanks are
// stepped over wherever they stand.
bool counterCovered(const LineRecord& line, std::size_t begin, std::size_t end) {
#if defined(__SSE2__)
  // All columns of the field at once, without a branch: counters differ from line to line, and
  // so would the way through a loop. Sixteen columns from `begin` lie within a line that reaches
  // the description column.
  static_assert(column::kSecondCounterBegin + 16 <= column::kDescription);
  const __m128i field = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.text + begin));
  const __m128i digitValue = _mm_sub_epi8(field, _mm_set1_epi8('0'));
  const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(digitValue, _mm_set1_epi8(9)), digitValue);
  const __m128i isBlank = _mm_cmpeq_epi8(field, _mm_set1_epi8(' '));
  const __m128i isZero = _mm_cmpeq_epi8(digitValue, _mm_setzero_si128());
  const unsigned pastField = 1u << (end - begin);
  const unsigned nonZero =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(isZero, isDigit))) | pastField;
  const unsigned stops =
      ~static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(isDigit, isBlank))) | pastField;
  return std::countr_zero(nonZero) < std::countr_zero(stops);
#else
  for (const char* c = line.text + begin; c != line.text + end; ++c) {
    if (*c == ' ') continue;
    if (*c < '0' || *c > '9') return false;
    if (*c != '0') return true;
  }
  return false;
#endif
}

void markByCounter(const LineRecord& first, LineRecord& second, std::size_t begin, std::size_t end,
                   std::size_t markColumn, MarkCounts& counts) {
  const bool before = counterCovered(first, begin, end);
  const bool after = counterCovered(second, begin, end);
  if (before && after) {
    ++counts.kept;
  } else if (before) {
    ++counts.lost;
    setMark(second, markColumn, kLost);
  } else if (after) {
    ++counts.gained;
    setMark(second, markColumn, kGained);
  }
}

// A constant condition counts as gained as soon as listing 2's flag is not "-", and is marked
// where listing 2 has its counter.
void markConstant(const LineRecord& first, LineRecord& second, MarkCounts& counts) {
  const char before = flag(first);
  const char after = flag(second);
  if (before == ' ') {
    if (after == ' ') {
      ++counts.kept;
    } else if (after == '-') {
      ++counts.lost;
      setMark(second, column::kFirstMark, kLost);
    }
  } else if (before == '-' && after != '-') {
    if (second.text[column::kSecondCounterEnd] == ' ') {
      ++counts.gained;
      setMark(second, column::kFirstMark, kGained);
    } else if (second.text[column::kFirstCounterEnd] == ' ') {
      ++counts.gained;
      setMark(second, column::kSecondMark, kGained);
    }
  }
}

}  // namespace

std::uint64_t counterValue(std::string_view field) {
  std::uint64_t value = 0;
  for (const char c : field) {
    if (c == ' ') continue;
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

void markLinePair(const LineRecord& before, LineRecord& after, MarkCounts& counts) {
  switch (after.kind()) {
    case LineKind::None:
      break;
    case LineKind::Hits:
    case LineKind::CondFirst:
      markByFlag(before, after, column::kFirstMark, counts);
      break;
    case LineKind::CondSecond:
    case LineKind::Mcdc:
      markByFlag(before, after, column::kSecondMark, counts);
      break;
    case LineKind::TrueFalse:
      markByCounter(before, after, 0, column::kFirstCounterEnd + 1, column::kFirstMark, counts);
      markByCounter(before, after, column::kSecondCounterBegin, column::kSecondCounterEnd + 1,
                    column::kSecondMark, counts);
      break;
    case LineKind::Const:
      markConstant(before, after, counts);
      break;
    default:
      throw Error("Internal error, data structures look corrupted");
  }
}

bool markAlignedLines(const char* secondText, const char* firstText, std::size_t size,
                      std::size_t lineCount, bool stripCarriageReturn, LineInfo* secondInfos,
                      const LineInfo* firstInfos, MarkCounts& counts) {
  LineFeedScanner<> lineFeeds(secondText, secondText + size);
  bool marked = false;
  const char* start = secondText;
  for (std::size_t i = 0; i < lineCount; ++i) {
    const char* lineFeed = lineFeeds.next();
    if (lineFeed == nullptr) throw std::logic_error("a function text shorter than its line count");
    std::size_t length = static_cast<std::size_t>(lineFeed - start);
    if (stripCarriageReturn && length != 0 && start[length - 1] == '\r') --length;
    LineRecord after{start, static_cast<std::uint32_t>(length), secondInfos[i]};
    const LineRecord before{firstText + (start - secondText), after.length, firstInfos[i]};
    markLinePair(before, after, counts);
    if (after.info.isMarked()) {
      secondInfos[i] = after.info;
      marked = true;
    }
    start = lineFeed + 1;
  }
  return marked;
}

void setCounts(FunctionRecord& function, const MarkCounts& counts, bool marked) {
  function.hasMarks = marked;
  function.keptCount = counts.kept;
  function.gainedCount = counts.gained;
  function.lostCount = counts.lost;
}

void markDifferences(const ListingPair& listings, FunctionRecord& function) {
  ProfileListing& second = listings.second;
  MarkCounts counts;
  FunctionLines secondLines(second, function, FunctionText::inMemory(function));
  FunctionLines firstLines(listings.first, *function.partner,
                           FunctionText::inMemory(*function.partner));
  LineRecord after;
  LineRecord before;
  bool marked = false;
  while (secondLines.next(after) && firstLines.next(before)) {
    markLinePair(before, after, counts);
    if (after.info.isMarked()) {
      second.lineInfos[secondLines.currentOffset(second)] = after.info;
      marked = true;
    }
  }
  setCounts(function, counts, marked);
}

}  // namespace qrvdiff
