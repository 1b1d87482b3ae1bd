#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "listing/model.h"
#include "listing/section_loader.h"
#include "report/output_buffer.h"

namespace qrvdiff {

struct ReportHeader {
  std::string_view inputPath1;
  std::string_view inputPath2;
  std::string_view timeText;  // 24 characters and a newline, as asctimeText makes it
};

// Writes the compared listing: banner, header, every file section of listing 2 with the marks,
// status fields and rebuilt TER lines, and the SUMMARY block. Function texts of listing 2 that
// stay in the listing file are loaded on the way.
void writeComparedListing(const ListingPair& listings, const ReportHeader& header,
                          OutputBuffer& out);
// The same in three steps: the banner and header; each file section, once its file is paired
// and its tally made; the SUMMARY block, once the totals are made.
void writeListingHeader(const ListingPair& listings, const ReportHeader& header, OutputBuffer& out);
void writeFileSection(const ProfileListing& second, const MonitoredFile& file, SectionTexts& texts,
                      OutputBuffer& out);
void writeSummary(const ProfileListing& second, OutputBuffer& out);

// covered * 100 / total, truncated; 100 when total is 0. The product is formed in 64 bits.
std::uint64_t coveragePercent(std::uint32_t covered, std::uint32_t total);

// "Www Mmm dd hh:mm:ss yyyy\n", the classic calendar-time text.
std::string asctimeText(const std::tm& time);

}  // namespace qrvdiff
