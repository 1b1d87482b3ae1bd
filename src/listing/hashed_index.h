#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "listing/system_memory.h"

namespace qrvdiff {

inline std::uint64_t hashText(std::string_view text, std::uint64_t seed = 0) {
  return std::hash<std::string_view>{}(text) ^ (seed * 0x9e3779b97f4a7c15ULL);
}

// An open-addressing table from hashed keys to 32-bit values, for the lookups that pair lines
// of the two listings. It stores only each key's hash and value; the caller tells, from a value,
// whether that entry's key is the one sought. Entries are never removed.
class HashedIndex {
 public:
  static constexpr std::uint32_t kNotFound = 0xffffffffu;

  explicit HashedIndex(std::size_t expectedEntries) {
    std::size_t capacity = 16;
    while (capacity < expectedEntries * 2) capacity *= 2;
    slots_.assign(capacity, Slot{0, kNotFound});
    mask_ = capacity - 1;
  }

  // The value of the first entry with this hash for which `matches(value)` holds.
  template <typename Matches>
  std::uint32_t find(std::uint64_t hash, Matches matches) const {
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.value == kNotFound) return kNotFound;
      if (slot.hash == hash && matches(slot.value)) return slot.value;
    }
  }

  // Adds an entry; the caller makes sure no equal key is present yet.
  void insert(std::uint64_t hash, std::uint32_t value) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    place(hash, value);
    ++count_;
  }

 private:
  struct Slot {
    std::uint64_t hash;
    std::uint32_t value;
  };

  void place(std::uint64_t hash, std::uint32_t value) {
    std::size_t i = hash & mask_;
    while (slots_[i].value != kNotFound) i = (i + 1) & mask_;
    slots_[i] = Slot{hash, value};
  }

  void grow() {
    LargeVector<Slot> old = std::move(slots_);
    slots_.assign(old.size() * 2, Slot{0, kNotFound});
    mask_ = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.value != kNotFound) place(slot.hash, slot.value);
    }
  }

  LargeVector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
};

}  // namespace qrvdiff
