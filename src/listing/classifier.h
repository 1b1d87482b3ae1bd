#pragma once

#include <span>
#include <string_view>

#include "listing/model.h"

namespace qrvdiff {

// The kind of a function-section line, from its description (the text from column 30 on, after
// blanks), and whether a trailing "+" or "-" is left out of the structure comparison.
// `mcdcView` is true when listing 2's coverage view is exactly "Reduced to MC/DC coverage"; it
// turns numbered condition rows into plain lines. A line that fits no rule ends the run with
// "Strange profile listing line: <line>\n".
LineInfo classifyLine(std::string_view line, bool mcdcView);

// The same for a line as a LineReader gives it: in memory it is followed by its line end, and
// everything up to `readableEnd` may be read.
LineInfo classifyLine(std::string_view line, bool mcdcView, const char* readableEnd);

// classifyLine() for each of `lines`, in order, into infos[0], infos[1], ...; lines as for the
// overload above. A strange line ends the run with the infos before it filled in.
void classifyLines(std::span<const std::string_view> lines, bool mcdcView, const char* readableEnd,
                   LineInfo* infos);

}  // namespace qrvdiff
