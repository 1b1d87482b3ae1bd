#pragma once

#include <cstdint>
#include <string_view>

#include "listing/model.h"

namespace qrvdiff {

// Walks a compared function of listing 2 in step with its partner in listing 1, sets "^"
// (covered in listing 2 only) and "v" (covered in listing 1 only) as the marks of the listing-2
// lines, and sets the function's kept, gained and lost counts. Both listings are held in memory.
void markDifferences(const ListingPair& listings, FunctionRecord& function);

struct MarkCounts {
  std::uint32_t kept = 0;    // points covered in both listings
  std::uint32_t gained = 0;  // covered in listing 2 only: "^"
  std::uint32_t lost = 0;    // covered in listing 1 only: "v"
};

// Decides the measurement points of one pair of lines of the same kind (`after` from listing 2),
// sets the marks of `after` and counts the points.
void markLinePair(const LineRecord& before, LineRecord& after, MarkCounts& counts);

// Marks `lineCount` lines of listing 2 (`secondText`, `size` bytes) against lines of listing 1 that
// stand at the same offsets of `firstText`, as equal structure from column 30 on guarantees; line
// lengths leave out a carriage return before the line feed when `stripCarriageReturn`. Sets the
// marks in `secondInfos`; true when any was set.
bool markAlignedLines(const char* secondText, const char* firstText, std::size_t size,
                      std::size_t lineCount, bool stripCarriageReturn, LineInfo* secondInfos,
                      const LineInfo* firstInfos, MarkCounts& counts);

// Stores the outcome of marking a function.
void setCounts(FunctionRecord& function, const MarkCounts& counts, bool marked);

// The value of a counter field: blanks skipped, digits accumulated, anything else ends it.
std::uint64_t counterValue(std::string_view field);

}  // namespace qrvdiff
