#include "listing/classifier.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "base/error.h"
#include "listing/text_match.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qrvdiff {

namespace {

// Lines come in no predictable order, so a classifier that branches on their text mispredicts
// about once per line, which costs more than deciding every keyword rule at once as here: the
// first characters of the description pick one slot of a table, and the (at most two) rules in
// it are tested without branches against the first 16 characters of the description.

constexpr std::size_t kWindow = 16;  // characters of a description compared with the rules

// What a rule decides. Byte s (0 to 3) is the LineInfo of the line when the state of its
// counter fields is s: bit 1 set when column 9 (the end of the first field) is not a blank,
// bit 0 the same for column 20; kStrange when no kind fits. kPlusMarks: a trailing "+" is
// left out of the comparison. kDecided: a rule applies.
constexpr std::uint8_t kStrange = 0xFF;
constexpr std::uint64_t kPlusMarks = std::uint64_t{1} << 40;
constexpr std::uint64_t kDecided = std::uint64_t{1} << 41;

constexpr std::uint8_t infoBits(LineKind kind, bool trailingMarker = false) {
  return static_cast<std::uint8_t>(static_cast<unsigned>(kind) | (trailingMarker ? 8u : 0u));
}
constexpr std::uint64_t byCounters(std::uint8_t neither, std::uint8_t secondOnly,
                                   std::uint8_t firstOnly, std::uint8_t both) {
  return kDecided | std::uint64_t{neither} | std::uint64_t{secondOnly} << 8 |
         std::uint64_t{firstOnly} << 16 | std::uint64_t{both} << 24;
}
constexpr std::uint64_t always(LineKind kind) {
  const std::uint8_t bits = infoBits(kind);
  return byCounters(bits, bits, bits, bits);
}
constexpr std::uint64_t kHits = always(LineKind::Hits);
constexpr std::uint64_t kTrueFalse = always(LineKind::TrueFalse);
constexpr std::uint64_t kPlain = always(LineKind::None);
// Hits when the first counter field holds a number, else a plain line.
constexpr std::uint64_t firstCounter(bool trailingMarker = false) {
  const std::uint8_t hits = infoBits(LineKind::Hits, trailingMarker);
  const std::uint8_t plain = infoBits(LineKind::None, trailingMarker);
  return byCounters(plain, plain, hits, hits);
}
// A loop: a decision when the second counter field holds a number, else a count.
constexpr std::uint64_t kLoop = byCounters(infoBits(LineKind::Hits), infoBits(LineKind::TrueFalse),
                                           infoBits(LineKind::Hits), infoBits(LineKind::TrueFalse));
// A numbered condition row: its counter stands in one of the two fields.
constexpr std::uint64_t kConditionRow =
    byCounters(kStrange, infoBits(LineKind::CondSecond), infoBits(LineKind::CondFirst),
               infoBits(LineKind::CondFirst));

// What may follow a rule's literal in the description.
enum class Follow {
  Anything,       // the description begins with the literal
  Nothing,        // the description is the literal
  BlankOrNothing  // the literal is the description or its first word
};

struct Rule {
  std::string_view literal;
  Follow follow;
  std::uint64_t action;
};

// The keyword table. No description fits two rules, so their order does not matter. Rows
// beginning "User " are longer than the window; they are decided in classifyRest().
constexpr Rule kRules[] = {
    {"FUNCTION ", Follow::Anything, kHits},
    {"goto ", Follow::Anything, kHits},
    {"continue", Follow::BlankOrNothing, kHits},
    {"catch ", Follow::Anything, kHits},
    {"case ", Follow::Anything, kHits | kPlusMarks},
    {"const-", Follow::Anything, always(LineKind::Const)},
    {"break", Follow::BlankOrNothing, kHits},
    {"return", Follow::BlankOrNothing, kHits},
    {"throw", Follow::BlankOrNothing, kHits},
    {"ternary-?: ", Follow::Anything, kTrueFalse},
    {"try", Follow::Nothing, firstCounter()},
    {"__leave", Follow::Nothing, kHits},
    {"__except", Follow::Nothing, kHits},
    {"__finally", Follow::Nothing, kHits},
    {"__try", Follow::Nothing, firstCounter()},
    {"lambda-[]()", Follow::Nothing, kHits},
    {"lambda-()->", Follow::Nothing, kHits},
    {"foreach ", Follow::Anything, kHits},
    {"for ", Follow::Anything, kLoop},
    {"missing-default:", Follow::Anything, kHits},
    {"default:", Follow::Anything, kHits | kPlusMarks},
    {"do-while ", Follow::Anything, kTrueFalse},
    {"do", Follow::Nothing, kPlain},
    {"if ", Follow::Anything, kTrueFalse},
    {"else if ", Follow::Anything, kTrueFalse},
    {"expr-andor: ", Follow::Anything, kTrueFalse},
    {"else", Follow::Nothing, kPlain},
    {"while ", Follow::Anything, kLoop},
    {"COND ", Follow::Anything, kTrueFalse},
    {"MC/DC ", Follow::Anything, always(LineKind::Mcdc)},
    {"}", Follow::Nothing, firstCounter()},
    {"}+", Follow::Nothing, firstCounter(true)},
    {"}-", Follow::Nothing, firstCounter(true)},
    {"switch ", Follow::Anything, kPlain},
    {"#line ", Follow::Anything, kPlain},
};

// A rule as it is tested. The window holds the description and, after it, its line end (a
// carriage return or a line feed, which no literal holds) and whatever follows: a literal
// longer than the description cannot fit it.
struct Pattern {
  char literal[kWindow] = {};
  std::uint32_t compared = 0;    // bit i: character i belongs to the literal
  std::uint32_t length = 0;      // of the literal
  std::uint32_t blankAfter = 0;  // bit `length` when a blank may follow the literal
  std::uint32_t anyFollow = 0;   // 1 when anything may follow it
  std::uint64_t action = 0;      // 0 for an unused pattern
};

// The key of a description: its first three characters, fewer when it is shorter. Every
// literal of fewer than three characters is a whole description, so a description that fits
// a rule has the key of the rule's literal.
constexpr std::size_t kKeyLength = 3;
constexpr std::uint32_t keyOf(const char* window, std::size_t length) {
  std::uint32_t key = 0;
  for (std::size_t i = 0; i < kKeyLength && i < length; ++i) {
    key |= std::uint32_t{static_cast<unsigned char>(window[i])} << (8 * i);
  }
  return key;
}

constexpr std::size_t kPatternsPerSlot = 2;

struct Slot {
  std::uint32_t key = ~std::uint32_t{0};  // matches no key: keys have three bytes at most
  Pattern patterns[kPatternsPerSlot];
};

// Slots are found by the hash of the key alone, without a further look-up on the way.
struct Table {
  std::uint32_t multiplier = 0;
  Slot slots[256];  // by hash; a slot without rules has a key that matches none
  bool complete = false;
};

constexpr std::size_t hashOf(std::uint32_t key, std::uint32_t multiplier) {
  return static_cast<std::size_t>((key * multiplier) >> 24);
}

// Groups the rules by key into slots, and looks for a multiplier that gives every key a hash
// of its own.
constexpr Table buildTable() {
  Table table;
  Slot grouped[std::size(kRules)];
  std::size_t used = 0;
  for (const Rule& rule : kRules) {
    const std::size_t length = rule.literal.size();
    const bool fits = length != 0 && length <= kWindow &&
                      (length < kWindow || rule.follow != Follow::BlankOrNothing) &&
                      (length >= kKeyLength || rule.follow == Follow::Nothing);
    if (!fits) return table;
    const std::uint32_t key = keyOf(rule.literal.data(), length);
    std::size_t slot = 0;
    while (slot < used && grouped[slot].key != key) ++slot;
    if (slot == used) grouped[used++].key = key;
    std::size_t free = 0;
    while (free < kPatternsPerSlot && grouped[slot].patterns[free].action != 0) ++free;
    if (free == kPatternsPerSlot) return table;
    Pattern& pattern = grouped[slot].patterns[free];
    for (std::size_t i = 0; i < length; ++i) pattern.literal[i] = rule.literal[i];
    pattern.compared = (std::uint32_t{1} << length) - 1;
    pattern.length = static_cast<std::uint32_t>(length);
    pattern.blankAfter = rule.follow == Follow::BlankOrNothing ? std::uint32_t{1} << length : 0;
    pattern.anyFollow = rule.follow == Follow::Anything ? 1 : 0;
    pattern.action = rule.action;
  }
  for (std::uint32_t multiplier = 0x9E3779B1u, attempt = 0; attempt < 4096;
       ++attempt, multiplier += 0x6A09E668u) {
    bool taken[256] = {};
    bool distinct = true;
    for (std::size_t slot = 0; slot < used && distinct; ++slot) {
      const std::size_t hash = hashOf(grouped[slot].key, multiplier);
      distinct = !taken[hash];
      taken[hash] = true;
    }
    if (!distinct) continue;
    table.multiplier = multiplier;
    for (std::size_t slot = 0; slot < used; ++slot) {
      table.slots[hashOf(grouped[slot].key, multiplier)] = grouped[slot];
    }
    table.complete = true;
    break;
  }
  return table;
}

constexpr Table kTable = buildTable();
static_assert(kTable.complete, "the keyword table needs another multiplier or more patterns");

// Bit i set when a[i] == b[i], for the 16 characters from a and b.
inline unsigned equalBits(const char* a, const char* b) {
#if defined(__SSE2__)
  const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(left, right)));
#else
  unsigned bits = 0;
  for (std::size_t i = 0; i < kWindow; ++i) bits |= unsigned{a[i] == b[i]} << i;
  return bits;
#endif
}

constexpr char kBlankWindow[kWindow + 1] = "                ";

// The first column at or after `from` that is not a blank, where the 16 columns from `from` are
// all blanks: a deep indentation, or a line without description.
[[gnu::noinline]] std::size_t descriptionStartAfterBlanks(std::string_view line, std::size_t from) {
  const std::size_t size = line.size();
  for (;;) {
    from += kWindow;
    if (from + kWindow > size) {
      while (from < size && line[from] == ' ') ++from;
      return from;
    }
    const unsigned nonBlank = ~equalBits(line.data() + from, kBlankWindow) & 0xFFFFu;
    if (nonBlank != 0) return from + static_cast<std::size_t>(std::countr_zero(nonBlank));
  }
}

// The first column at or after 30 that is not a blank; the line's length when there is none.
// The line has more than 30 characters, so a window of 16 that ends at its end at the latest
// covers column 30 and the usual indentations.
[[gnu::always_inline]] inline std::size_t descriptionStart(std::string_view line) {
  const std::size_t size = line.size();
  const std::size_t from =
      size >= column::kDescription + kWindow ? column::kDescription : size - kWindow;
  unsigned nonBlank = ~equalBits(line.data() + from, kBlankWindow) & 0xFFFFu;
  nonBlank &= ~0u << (column::kDescription - from);  // columns before 30 do not count
  if (nonBlank == 0) [[unlikely]]
    return descriptionStartAfterBlanks(line, from);
  return from + static_cast<std::size_t>(std::countr_zero(nonBlank));
}

// The action of the keyword rule or numbered condition row that the description fits, else 0.
// `window` holds the description, `length` characters, then its line end and whatever follows,
// 16 characters in all.
inline std::uint64_t actionOf(const char* window, std::size_t length, bool mcdcView) {
  std::uint32_t key;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&key, window, sizeof key);  // the window holds 16 characters
  } else {
    key = keyOf(window, kKeyLength);
  }
  static constexpr std::uint32_t kKeyMasks[] = {0, 0xFF, 0xFFFF, 0xFFFFFF};
  key &= kKeyMasks[length < kKeyLength ? length : kKeyLength];
  const Slot& slot = kTable.slots[hashOf(key, kTable.multiplier)];
  const unsigned blanks = equalBits(window, kBlankWindow);
  std::uint64_t action = 0;
  for (const Pattern& pattern : slot.patterns) {
    const unsigned equal = equalBits(window, pattern.literal);
    const bool fits = ((equal & pattern.compared) == pattern.compared) &
                      ((pattern.anyFollow != 0) | (length == pattern.length) |
                       ((blanks & pattern.blankAfter) != 0));
    action |= pattern.action & (std::uint64_t{0} - fits);
  }
  action &= std::uint64_t{0} - (slot.key == key);

  const bool numbered = static_cast<unsigned char>(window[0]) - unsigned{'1'} < 9u;
  const std::uint64_t rowAction = mcdcView ? kPlain : kConditionRow;
  const std::uint64_t rowMask = std::uint64_t{0} - numbered;
  return (rowAction & rowMask) | (action & ~rowMask);
}

[[noreturn, gnu::cold, gnu::noinline]] void throwStrange(std::string_view line) {
  throw Error("Strange profile listing line: " + std::string(line) + "\n");
}

// The rows that the keyword table leaves: "User " rows, labels (the line ends in ":" or ":+"),
// and lines that fit no rule.
[[gnu::noinline]] LineInfo classifyRest(std::string_view line, std::string_view description) {
  if (startsWith(description, "User counter: ")) return LineInfo(LineKind::Hits, false);
  if (startsWith(description, "User annotation: ")) return LineInfo(LineKind::None, false);
  if (line.back() == ':') return LineInfo(LineKind::None, false);
  if (line.substr(line.size() - 2) == ":+") return LineInfo(LineKind::None, true);
  throwStrange(line);
}

// The line's info, from the action of its description, which starts at `start`.
[[gnu::always_inline]] inline LineInfo infoOf(std::string_view line, std::size_t start,
                                              std::uint64_t action) {
  if ((action & kDecided) == 0) return classifyRest(line, line.substr(start));
  const unsigned counters = (line[column::kFirstCounterEnd] != ' ' ? 2u : 0u) |
                            (line[column::kSecondCounterEnd] != ' ' ? 1u : 0u);
  const unsigned bits = static_cast<unsigned>(action >> (8 * counters)) & 0xFFu;
  if (bits == kStrange) throwStrange(line);
  const bool plusMarks = (action & kPlusMarks) != 0 && line.back() == '+';
  return LineInfo(static_cast<LineKind>(bits & 7u), (bits & 8u) != 0 || plusMarks);
}

// The action of the description of a line longer than 30 characters, which starts at `start`.
[[gnu::always_inline]] inline std::uint64_t descriptionAction(std::string_view line,
                                                              std::size_t start, bool mcdcView,
                                                              const char* readableEnd) {
  const std::size_t length = line.size() - start;
  const char* description = line.data() + start;
  if (readableEnd - description >= static_cast<std::ptrdiff_t>(kWindow)) [[likely]] {
    return actionOf(description, length, mcdcView);
  }
  // Too near the end of the memory at hand: the window is a copy, with a line feed after the
  // description as in the input.
  char window[kWindow];
  std::memset(window, '\n', sizeof window);
  std::memcpy(window, description, std::min(length, kWindow));
  return actionOf(window, length, mcdcView);
}

[[gnu::always_inline]] inline LineInfo classifyInPlace(std::string_view line, bool mcdcView,
                                                       const char* readableEnd) {
  if (line.size() <= column::kDescription) throwStrange(line);
  const std::size_t start = descriptionStart(line);
  return infoOf(line, start, descriptionAction(line, start, mcdcView, readableEnd));
}

}  // namespace

LineInfo classifyLine(std::string_view line, bool mcdcView, const char* readableEnd) {
  return classifyInPlace(line, mcdcView, readableEnd);
}

void classifyLines(std::span<const std::string_view> lines, bool mcdcView, const char* readableEnd,
                   LineInfo* infos) {
  // In three passes over a run of lines: where each description starts, what it fits, and what
  // that makes of the line. Each pass is a short chain of dependent steps per line, so that the
  // processor works on several lines at once.
  constexpr std::size_t kRun = 64;
  std::size_t starts[kRun];
  std::uint64_t actions[kRun];
  for (std::size_t first = 0; first < lines.size(); first += kRun) {
    const std::size_t count = std::min(kRun, lines.size() - first);
    const std::string_view* run = lines.data() + first;
    for (std::size_t i = 0; i < count; ++i) {
      // A line too short to classify is reported in order, by the last pass.
      starts[i] = run[i].size() > column::kDescription ? descriptionStart(run[i]) : 0;
    }
    for (std::size_t i = 0; i < count; ++i) {
      actions[i] = run[i].size() > column::kDescription
                       ? descriptionAction(run[i], starts[i], mcdcView, readableEnd)
                       : 0;
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (run[i].size() <= column::kDescription) throwStrange(run[i]);
      infos[first + i] = infoOf(run[i], starts[i], actions[i]);
    }
  }
}

LineInfo classifyLine(std::string_view line, bool mcdcView) {
  return classifyLine(line, mcdcView, line.data() + line.size());
}

}  // namespace qrvdiff
