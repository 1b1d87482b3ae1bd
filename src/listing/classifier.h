#pragma once

#include <array>
#include <cstdint>

#include "listing/model.h"

namespace qrvdiff {

// The kind of a function-section line, from its description (the text from column 30 on, after
// blanks), and whether a trailing "+" or "-" is left out of the structure comparison.
// `mcdcView` is true when listing 2's coverage view is exactly "Reduced to MC/DC coverage"; it
// turns numbered condition rows into plain lines. A line that fits no rule ends the run with
// "Strange profile listing line: <line>\n".
LineInfo classifyLine(std::string_view line, bool mcdcView);

// classifyLine for the lines of one listing, remembering its verdicts on short descriptions:
// listings repeat them ("}", "return", "break", "else") over and over. A verdict depends only on
// the description, the character before it, whether columns 9 and 20 hold blanks, and the view,
// so two lines that agree in these get the same one.
class LineClassifier {
 public:
  explicit LineClassifier(bool mcdcView) : mcdcView_(mcdcView) {}

  LineInfo classify(std::string_view line);

 private:
  struct Remembered {
    std::uint64_t head = 0;  // the last 16 characters of the line, with those before the one
    std::uint64_t tail = 0;  // in front of the description cleared
    std::uint8_t shape = 0;  // description length and the blank columns; 0 for an empty entry
    LineInfo info;
  };
  static constexpr std::size_t kEntries = 1024;

  bool mcdcView_;
  std::array<Remembered, kEntries> remembered_{};
};

}  // namespace qrvdiff
