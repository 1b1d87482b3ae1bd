#include "listing/header_set.h"

#include <cstdint>

namespace qrvdiff {

bool HeaderSet::add(std::string_view headerLine) {
  if (contains(headerLine)) return false;
  index_.insert(hashText(headerLine), static_cast<std::uint32_t>(headers_.size()));
  headers_.push_back(headerLine);
  return true;
}

std::size_t HeaderSet::position(std::string_view headerLine) const {
  const std::uint32_t found =
      index_.find(hashText(headerLine), [&](std::uint32_t i) { return headers_[i] == headerLine; });
  return found == HashedIndex::kNotFound ? kAbsent : found;
}

HeaderSet headerLinesOf(const ProfileListing& second) {
  HeaderSet set(second.files.size());
  for (const MonitoredFile& file : second.files) set.add(file.headerLine);
  return set;
}

}  // namespace qrvdiff
