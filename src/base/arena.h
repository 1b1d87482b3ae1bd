#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace qrvdiff {

// Holds the stored line texts of a listing. Each text is copied once, followed by a newline, and
// lives as long as the arena; there is no heap allocation per line. Texts stored one after another
// usually sit back to back, so the writer can copy a run of lines with one call.
class TextArena {
 public:
  TextArena() = default;
  ~TextArena();
  TextArena(const TextArena&) = delete;
  TextArena& operator=(const TextArena&) = delete;

  // Returns the copy; the byte after its last character is '\n'.
  char* store(std::string_view text);

  // A run is a series of texts stored with storeInRun that stay back to back: when a block runs
  // out, the run so far moves to the next block. endRun returns the whole run, each text followed
  // by its newline; pointers into the run are only stable from then on.
  void beginRun() { runStart_ = cursor_; }
  void storeInRun(std::string_view text);
  std::string_view endRun() const {
    return {runStart_, static_cast<std::size_t>(cursor_ - runStart_)};
  }

  // Takes over the texts of `other`, which is left empty; texts stored here stay where they are.
  void adopt(TextArena& other);

 private:
  void addBlock(std::size_t minimum);

  struct Block {
    char* data;
    std::size_t size;
  };
  std::vector<Block> blocks_;
  char* cursor_ = nullptr;
  char* runStart_ = nullptr;
  char* end_ = nullptr;
  std::size_t nextBlockSize_ = 64 * 1024;
};

}  // namespace qrvdiff
