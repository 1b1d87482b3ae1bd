#include "listing/classifier.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "driver/error.h"
#include "listing/text_match.h"

namespace qrvdiff {

namespace {

enum class Verdict { Decided, Strange, NoRule };

// The first character at or after column 30 that is not a blank. Descriptions are indented by
// blanks, so they are stepped over eight at a time where the byte order allows.
std::size_t descriptionStart(std::string_view line) {
  std::size_t start = column::kDescription;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kEightBlanks = 0x2020202020202020ULL;
    for (std::uint64_t chunk; start + 8 <= line.size(); start += 8) {
      std::memcpy(&chunk, line.data() + start, 8);
      if (const std::uint64_t different = chunk ^ kEightBlanks; different != 0) {
        return start + static_cast<std::size_t>(std::countr_zero(different)) / 8;
      }
    }
  }
  while (start < line.size() && line[start] == ' ') ++start;
  return start;
}

struct Classification {
  LineKind kind = LineKind::None;
  bool trailingMarker = false;
};

// The rows of the keyword table, grouped by the first character of the description. Within a
// group the rows keep the table's order, which decides lines that two rows could claim.
Verdict classifyDescription(std::string_view line, std::string_view description, bool mcdcView,
                            Classification& out) {
  const auto prefix = [&](std::string_view literal) { return startsWith(description, literal); };
  const auto whole = [&](std::string_view literal) { return description == literal; };
  const auto set = [&](LineKind kind, bool trailingMarker = false) {
    out.kind = kind;
    out.trailingMarker = trailingMarker;
    return Verdict::Decided;
  };
  const bool hasFirstCounter = line[column::kFirstCounterEnd] != ' ';
  const bool hasSecondCounter = line[column::kSecondCounterEnd] != ' ';
  const bool endsInPlus = line.back() == '+';
  const auto loop = [&] { return set(hasSecondCounter ? LineKind::TrueFalse : LineKind::Hits); };
  const auto firstCounter = [&](bool trailingMarker = false) {
    return set(hasFirstCounter ? LineKind::Hits : LineKind::None, trailingMarker);
  };

  switch (description.empty() ? '\0' : description.front()) {
    case 'F':
      if (prefix("FUNCTION ")) return set(LineKind::Hits);
      break;
    case 'g':
      if (prefix("goto ")) return set(LineKind::Hits);
      break;
    case 'c':
      if (whole("continue") || prefix("continue ")) return set(LineKind::Hits);
      if (prefix("catch ")) return set(LineKind::Hits);
      if (prefix("case ")) return set(LineKind::Hits, endsInPlus);
      if (prefix("const-")) return set(LineKind::Const);
      break;
    case 'b':
      if (whole("break") || prefix("break ")) return set(LineKind::Hits);
      break;
    case 'r':
      if (whole("return") || prefix("return ")) return set(LineKind::Hits);
      break;
    case 't':
      if (whole("throw") || prefix("throw ")) return set(LineKind::Hits);
      if (prefix("ternary-?: ")) return set(LineKind::TrueFalse);
      if (whole("try")) return firstCounter();
      break;
    case '_':
      if (whole("__leave") || whole("__except") || whole("__finally")) return set(LineKind::Hits);
      if (whole("__try")) return firstCounter();
      break;
    case 'l':
      if (whole("lambda-[]()") || whole("lambda-()->")) return set(LineKind::Hits);
      break;
    case 'f':
      if (prefix("foreach ")) return set(LineKind::Hits);
      if (prefix("for ")) return loop();
      break;
    case 'U':
      if (prefix("User counter: ")) return set(LineKind::Hits);
      if (prefix("User annotation: ")) return set(LineKind::None);
      break;
    case 'm':
      if (prefix("missing-default:")) return set(LineKind::Hits);
      break;
    case 'd':
      if (prefix("default:")) return set(LineKind::Hits, endsInPlus);
      if (prefix("do-while ")) return set(LineKind::TrueFalse);
      if (whole("do")) return set(LineKind::None);
      break;
    case 'i':
      if (prefix("if ")) return set(LineKind::TrueFalse);
      break;
    case 'e':
      if (prefix("else if ")) return set(LineKind::TrueFalse);
      if (prefix("expr-andor: ")) return set(LineKind::TrueFalse);
      if (whole("else")) return set(LineKind::None);
      break;
    case 'w':
      if (prefix("while ")) return loop();
      break;
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      // A numbered condition row.
      if (mcdcView) return set(LineKind::None);
      if (hasFirstCounter) return set(LineKind::CondFirst);
      if (!hasSecondCounter) return Verdict::Strange;
      return set(LineKind::CondSecond);
    case 'C':
      if (prefix("COND ")) return set(LineKind::TrueFalse);
      break;
    case 'M':
      if (prefix("MC/DC ")) return set(LineKind::Mcdc);
      break;
    case '}':
      if (whole("}")) return firstCounter();
      if (whole("}+") || whole("}-")) return firstCounter(true);
      break;
    case 's':
      if (prefix("switch ")) return set(LineKind::None);
      break;
    case '#':
      if (prefix("#line ")) return set(LineKind::None);
      break;
    default:
      break;
  }
  return Verdict::NoRule;
}

[[noreturn]] void throwStrange(std::string_view line) {
  throw Error("Strange profile listing line: " + std::string(line) + "\n");
}

}  // namespace

LineInfo classifyLine(std::string_view line, bool mcdcView) {
  if (line.size() <= column::kDescription) throwStrange(line);
  const std::string_view description = line.substr(descriptionStart(line));

  Classification result;
  switch (classifyDescription(line, description, mcdcView, result)) {
    case Verdict::Decided:
      break;
    case Verdict::Strange:
      throwStrange(line);
    case Verdict::NoRule:
      // Labels: the line ends in ":" or in ":+".
      if (line.back() == ':') {
        result = {LineKind::None, false};
      } else if (line.size() >= 2 && line.substr(line.size() - 2) == ":+") {
        result = {LineKind::None, true};
      } else {
        throwStrange(line);
      }
      break;
  }
  return LineInfo(result.kind, result.trailingMarker);
}

}  // namespace qrvdiff
