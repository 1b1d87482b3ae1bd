#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "summary/compared_summary.h"

namespace qrvdiff::summary {

struct FormatOptions {
  bool colour = false;              // text: ANSI colours
  std::size_t maxAnnotations = 10;  // github: warnings written at most
  // Where text and json hand over the report in pieces of about kDrainSize bytes as they go;
  // without it, the whole report stays in `out`.
  std::function<void(std::string_view)> sink;
};
inline constexpr std::size_t kDrainSize = 1 << 16;

// Each appends the whole report to `out`.
void writeText(const ComparedSummary& summary, const FormatOptions& options, std::string& out);
void writeJson(const ComparedSummary& summary, const FormatOptions& options, std::string& out);
void writeGithub(const ComparedSummary& summary, const FormatOptions& options, std::string& out);
// At most kMarkdownLimit bytes (and so characters), whatever the summary holds.
void writeMarkdown(const ComparedSummary& summary, std::string& out);
inline constexpr std::size_t kMarkdownLimit = 65000;

}  // namespace qrvdiff::summary
