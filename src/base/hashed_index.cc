#include "base/hashed_index.h"

#include <chrono>

namespace qrvdiff {

std::uint64_t runHashKey() {
  // Where the program was loaded and when it started: enough that the key cannot be known in
  // advance, and the results never depend on it.
  static const char anchor = 0;
  auto key = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&anchor));
  key ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) *
         0xbf58476d1ce4e5b9ULL;
  key ^= key >> 31;
  return key * 0x94d049bb133111ebULL;
}

}  // namespace qrvdiff
