#pragma once

#include "listing/model.h"

namespace qrvdiff {

// Sets `kind` and `trailingMarker` of a function-section line from its description (the text
// from column 30 on, after blanks). `mcdcView` is true when listing 2's coverage view is exactly
// "Reduced to MC/DC coverage"; it turns numbered condition rows into plain lines. A line that
// fits no rule ends the run with "Strange profile listing line: <line>\n".
void classifyLine(LineRecord& record, bool mcdcView);

}  // namespace qrvdiff
