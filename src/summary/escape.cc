#include "summary/escape.h"

#include <cstdint>

namespace qrvdiff::summary {
namespace {

// The length of the valid UTF-8 sequence at the start of `bytes`, or 0 when it starts with a
// byte that begins none (stray continuation bytes, overlong forms, surrogates, beyond U+10FFFF).
std::size_t utf8SequenceLength(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

constexpr char kHex[] = "0123456789ABCDEF";

// Calls `ascii(c)` for each ASCII byte, appends valid multi-byte sequences as they are, and
// `other(byte)` for each byte that is not valid UTF-8.
template <typename Ascii, typename Other>
void forEachCharacter(std::string& out, std::string_view bytes, Ascii&& ascii, Other&& other) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t length = utf8SequenceLength(bytes.substr(at));
    if (length == 1) {
      ascii(bytes[at]);
    } else if (length == 0) {
      other(static_cast<std::uint8_t>(bytes[at]));
      ++at;
      continue;
    } else {
      out.append(bytes.substr(at, length));
    }
    at += length;
  }
}

void appendLatin1AsUtf8(std::string& out, std::uint8_t byte) {
  out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
  out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
}

}  // namespace

namespace {
// The length of the run at the start of `bytes` of printable ASCII that JSON takes as it is.
std::size_t plainJsonRun(std::string_view bytes) {
  std::size_t length = 0;
  while (length < bytes.size()) {
    const auto byte = static_cast<std::uint8_t>(bytes[length]);
    if (byte < 0x20 || byte >= 0x80 || byte == '"' || byte == '\\') break;
    ++length;
  }
  return length;
}
}  // namespace

void appendJsonString(std::string& out, std::string_view bytes) {
  // Most descriptions are plain ASCII throughout: taken in one piece.
  const std::size_t plain = plainJsonRun(bytes);
  out.append(bytes.substr(0, plain));
  bytes.remove_prefix(plain);
  if (bytes.empty()) return;
  const auto unicodeEscape = [&](std::uint8_t value) {
    out += "\\u00";
    out.push_back(kHex[value >> 4]);
    out.push_back(kHex[value & 0xF]);
  };
  forEachCharacter(
      out, bytes,
      [&](char c) {
        switch (c) {
          case '"':
            out += "\\\"";
            break;
          case '\\':
            out += "\\\\";
            break;
          case '\n':
            out += "\\n";
            break;
          case '\r':
            out += "\\r";
            break;
          case '\t':
            out += "\\t";
            break;
          default:
            if (static_cast<std::uint8_t>(c) < 0x20) {
              unicodeEscape(static_cast<std::uint8_t>(c));
            } else {
              out.push_back(c);
            }
        }
      },
      unicodeEscape);
}

void appendUtf8(std::string& out, std::string_view bytes) {
  forEachCharacter(
      out, bytes, [&](char c) { out.push_back(c); },
      [&](std::uint8_t byte) { appendLatin1AsUtf8(out, byte); });
}

namespace {
void appendWorkflowText(std::string& out, std::string_view bytes, bool property) {
  forEachCharacter(
      out, bytes,
      [&](char c) {
        if (c == '%') {
          out += "%25";
        } else if (c == '\r') {
          out += "%0D";
        } else if (c == '\n') {
          out += "%0A";
        } else if (property && c == ':') {
          out += "%3A";
        } else if (property && c == ',') {
          out += "%2C";
        } else {
          out.push_back(c);
        }
      },
      [&](std::uint8_t byte) { appendLatin1AsUtf8(out, byte); });
}
}  // namespace

void appendWorkflowMessage(std::string& out, std::string_view bytes) {
  appendWorkflowText(out, bytes, false);
}
void appendWorkflowProperty(std::string& out, std::string_view bytes) {
  appendWorkflowText(out, bytes, true);
}

void appendMarkdownText(std::string& out, std::string_view bytes, std::size_t limit) {
  const bool shortened = bytes.size() > limit;
  if (shortened) {
    bytes = bytes.substr(0, limit);
    // Do not end inside a UTF-8 sequence: drop continuation bytes and their lead.
    std::size_t end = bytes.size();
    while (end > 0 && (static_cast<std::uint8_t>(bytes[end - 1]) & 0xC0) == 0x80) --end;
    if (end > 0 && static_cast<std::uint8_t>(bytes[end - 1]) >= 0xC0) {
      if (utf8SequenceLength(bytes.substr(end - 1)) == 0) bytes = bytes.substr(0, end - 1);
    }
  }
  forEachCharacter(
      out, bytes,
      [&](char c) {
        switch (c) {
          case '&':
            out += "&amp;";
            break;
          case '<':
            out += "&lt;";
            break;
          case '>':
            out += "&gt;";
            break;
          case '|':
          case '\\':
          case '`':
          case '*':
          case '_':
          case '[':
          case ']':
          case '#':
          case '~':
          case '!':
            out.push_back('\\');
            out.push_back(c);
            break;
          case '\t':
          case '\r':
          case '\n':
            out.push_back(' ');
            break;
          default:
            out.push_back(c);
        }
      },
      [&](std::uint8_t byte) { appendLatin1AsUtf8(out, byte); });
  if (shortened) out += "...";
}

}  // namespace qrvdiff::summary
