#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qrvdiff {

inline bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// True when `pattern` with its blanks and tabs removed is a prefix of `text` with its blanks and
// tabs removed. Serves for the banner lines of a listing header.
bool matchesIgnoringBlanks(std::string_view text, std::string_view pattern);

// Reads an integer the way the "%i" conversion of a formatted scan does: leading white space,
// an optional sign, then decimal digits, octal after a leading 0, or hexadecimal after 0x or 0X.
// Returns nothing when no number stands there. Values beyond 64 bits saturate as the C library
// does; the result is then cut to 32 bits, as storing it into a 32-bit integer does.
std::optional<std::int32_t> scanInteger(std::string_view text);

// scanInteger on the text that follows the first `marker` character; nothing when there is none.
std::optional<std::int32_t> scanIntegerAfter(std::string_view text, char marker);

}  // namespace qrvdiff
