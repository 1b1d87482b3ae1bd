#pragma once

#include <cstddef>
#include <string_view>

#include "base/hashed_index.h"
#include "base/platform.h"
#include "listing/model.h"

namespace qrvdiff {

// A set of "MONITORED " lines: those of listing 2's file sections, against which listing 1's
// sections are chosen, or those of listing 1's, among which pairing finds partner files.
class HeaderSet {
 public:
  static constexpr std::size_t kAbsent = HashedIndex::kNotFound;

  explicit HeaderSet(std::size_t expected = 0) : index_(expected) { headers_.reserve(expected); }
  // Adds the line unless it is there already; true when it was added.
  bool add(std::string_view headerLine);
  bool contains(std::string_view headerLine) const { return position(headerLine) != kAbsent; }
  // How many distinct lines were added before this one, or kAbsent.
  std::size_t position(std::string_view headerLine) const;
  std::size_t size() const { return headers_.size(); }

 private:
  HashedIndex index_;
  LargeVector<std::string_view> headers_;
};

// The "MONITORED " lines of listing 2's file sections.
HeaderSet headerLinesOf(const ProfileListing& second);

}  // namespace qrvdiff
