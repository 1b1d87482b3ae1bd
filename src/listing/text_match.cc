#include "listing/text_match.h"

#include <limits>

namespace qrvdiff {

namespace {

bool isIgnored(char c) {
  return c == ' ' || c == '\t';
}

bool isScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

bool matchesIgnoringBlanks(std::string_view text, std::string_view pattern) {
  std::size_t t = 0;
  std::size_t p = 0;
  for (;;) {
    while (t < text.size() && isIgnored(text[t])) ++t;
    while (p < pattern.size() && isIgnored(pattern[p])) ++p;
    if (p == pattern.size()) return true;
    if (t == text.size()) return false;
    if (text[t] != pattern[p]) return false;
    ++t;
    ++p;
  }
}

std::optional<std::int32_t> scanInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isScanSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < text.size() && text[i] == '0') {
    base = 8;
    if (i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        digitValue(text[i + 2]) < 16) {
      base = 16;
      i += 2;
    }
  }
  const std::size_t firstDigit = i;
  // Accumulate with saturation, as strtol does: the magnitude is kept up to 2^63.
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  std::uint64_t magnitude = 0;
  bool saturated = false;
  while (i < text.size()) {
    const int digit = digitValue(text[i]);
    if (digit >= static_cast<int>(base)) break;
    if (!saturated) {
      if (magnitude > (kLimit - static_cast<unsigned>(digit)) / base) {
        saturated = true;
      } else {
        magnitude = magnitude * base + static_cast<unsigned>(digit);
      }
    }
    ++i;
  }
  if (i == firstDigit) return std::nullopt;
  // Clamp to the range of a 64-bit long, then keep the low 32 bits (two's complement).
  std::uint64_t value;
  if (negative) {
    value = (saturated || magnitude >= kLimit) ? kLimit : (~magnitude + 1);
  } else {
    value = (saturated || magnitude >= kLimit) ? kLimit - 1 : magnitude;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::optional<std::int32_t> scanIntegerAfter(std::string_view text, char marker) {
  const std::size_t at = text.find(marker);
  if (at == std::string_view::npos) return std::nullopt;
  return scanInteger(text.substr(at + 1));
}

}  // namespace qrvdiff
