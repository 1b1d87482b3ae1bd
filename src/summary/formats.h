#pragma once

#include <cstddef>
#include <string>

#include "summary/compared_summary.h"

namespace qrvdiff::summary {

struct FormatOptions {
  bool colour = false;              // text: ANSI colours
  std::size_t maxAnnotations = 10;  // github: warnings written at most
};

// Each appends the whole report to `out`.
void writeText(const ComparedSummary& summary, const FormatOptions& options, std::string& out);
void writeJson(const ComparedSummary& summary, std::string& out);
void writeGithub(const ComparedSummary& summary, const FormatOptions& options, std::string& out);
// At most kMarkdownLimit bytes (and so characters), whatever the summary holds.
void writeMarkdown(const ComparedSummary& summary, std::string& out);
inline constexpr std::size_t kMarkdownLimit = 65000;

}  // namespace qrvdiff::summary
