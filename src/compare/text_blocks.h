#pragma once

#include <cstddef>

namespace qrvdiff {

// True when two function texts of `size` bytes (lines ended by line feeds, the first line
// starting at the first byte) have their line feeds at the same places and the same bytes at
// every column from 30 on. Bytes in columns 0 to 29 may differ. Compares 64 bytes at a time;
// where that is not available it answers false, and callers compare line by line instead.
bool sameLinesFromColumn30(const char* second, const char* first, std::size_t size);

}  // namespace qrvdiff
