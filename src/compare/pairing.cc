#include "compare/pairing.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/hashed_index.h"
#include "compare/marking.h"
#include "compare/text_blocks.h"
#include "listing/function_lines.h"
#include "listing/header_set.h"
#include "listing/section_loader.h"

namespace qrvdiff {

namespace {

constexpr std::size_t kPairingKeyColumn = 31;

// The part of a FUNCTION line that pairs functions, from the loaded text of a function or the
// kept line of a listing-1 function.
std::string_view pairingKey(const char* functionLine, const FunctionRecord& function) {
  return std::string_view(functionLine, function.functionLineLength).substr(kPairingKeyColumn);
}

// The functions of one listing-1 file that share a FUNCTION line form a chain, in list order.
// Only pairing sets `taken`, and it always takes the first untaken function of a chain, so the
// chain's head is always the first untaken candidate: a lookup gives the function that a scan
// of the file's list would. One index serves one partner file at a time, and its memory is
// reused for the next: it stays small and in the caches.
class CandidateIndex {
 public:
  // Indexes the untaken functions of `first.files[fileIndex]`, in place of what it held. Their
  // FUNCTION lines are kept copies, or come from the section, which `firstTexts` then holds
  // loaded until forget(): the index keeps pointers into it.
  void indexFile(const ProfileListing& first, std::size_t fileIndex, SectionLoader& firstTexts) {
    const MonitoredFile& file = first.files[fileIndex];
    functions_ = first.functionsBegin(file);
    section_.reset();  // lets the loader read this section in
    section_ = firstTexts.holdSection(first, file, kSectionLoadedWhole);
    index_.reset(file.functionCount);
    chains_.clear();
    next_.assign(file.functionCount, kNoFunction);
    functionLines_.resize(file.functionCount);
    for (std::uint32_t i = 0; i < file.functionCount; ++i) {
      if (functions_[i].taken) continue;
      const FunctionRecord& function = functions_[i];
      functionLines_[i] = function.keptFunctionLine != nullptr ? function.keptFunctionLine
                                                               : section_.textOf(function).data();
      const std::string_view key = pairingKey(functionLines_[i], function);
      const std::uint64_t hash = hashText(key);
      const std::uint32_t chain = findChain(hash, key);
      if (chain == HashedIndex::kNotFound) {
        index_.insert(hash, static_cast<std::uint32_t>(chains_.size()));
        chains_.push_back({i, i});
      } else {
        next_[chains_[chain].tail] = i;
        chains_[chain].tail = i;
      }
    }
  }

  // The first untaken function of the indexed file with this key, now taken; kNoFile when there
  // is none. An index into the listing's functions.
  std::size_t take(const ProfileListing& first, std::string_view key) {
    const std::uint32_t chain = findChain(hashText(key), key);
    if (chain == HashedIndex::kNotFound || chains_[chain].head == kNoFunction) return kNoFile;
    const std::uint32_t taken = chains_[chain].head;
    chains_[chain].head = next_[taken];
    return static_cast<std::size_t>(&functions_[taken] - first.functions.data());
  }
  // Lets the loader of the indexed file's texts read elsewhere; the index is unusable until the
  // next indexFile().
  void forget() { section_.reset(); }

 private:
  static constexpr std::uint32_t kNoFunction = 0xffffffffu;
  // Functions counted from the file's first.
  struct Chain {
    std::uint32_t head;  // the first untaken function, or kNoFunction
    std::uint32_t tail;
  };

  std::uint32_t findChain(std::uint64_t hash, std::string_view key) const {
    return index_.find(hash, [&](std::uint32_t chain) {
      // The tail has the chain's key for as long as the chain exists.
      const std::uint32_t tail = chains_[chain].tail;
      return pairingKey(functionLines_[tail], functions_[tail]) == key;
    });
  }

  const FunctionRecord* functions_ = nullptr;
  SectionHold section_;  // of the texts that functionLines_ may point into
  HashedIndex index_{0};
  std::vector<Chain> chains_;
  std::vector<std::uint32_t> next_;         // the next function of the same chain
  std::vector<const char*> functionLines_;  // of the indexed functions
};

bool sameLine(const LineRecord& second, const LineRecord& first) {
  if (second.kind() != first.kind()) return false;
  const std::int64_t lastIndex = second.lastIndex();
  if (lastIndex != first.lastIndex()) return false;
  if (lastIndex < static_cast<std::int64_t>(column::kDescription)) return true;
  const std::size_t count = static_cast<std::size_t>(lastIndex) + 1 - column::kDescription;
  const char* secondText = second.text + column::kDescription;
  const char* firstText = first.text + column::kDescription;
  if (std::memcmp(secondText, firstText, count) == 0) return true;
  if (second.kind() != LineKind::Mcdc) return false;
  // An MC/DC row may differ where listing 2 holds "+" or "-".
  for (std::size_t i = 0; i < count; ++i) {
    if (secondText[i] != firstText[i] && secondText[i] != '+' && secondText[i] != '-') {
      return false;
    }
  }
  return true;
}

// Kinds and trailing markers of two runs of lines are the same (marks are not compared).
bool sameLineKinds(const LineInfo* second, const LineInfo* first, std::size_t count) {
  static_assert(sizeof(LineInfo) == 1);
  const auto* a = reinterpret_cast<const unsigned char*>(second);
  const auto* b = reinterpret_cast<const unsigned char*>(first);
  unsigned differing = 0;
  for (std::size_t i = 0; i < count; ++i) differing |= (a[i] ^ b[i]) & LineInfo::kShapeBits;
  return differing == 0;
}

// The common case: both functions have the same bytes from column 30 on, line for line, and the
// same line kinds, so their structure is equal without a look at each line. Line ends then stand
// at the same offsets in both texts, and one walk finds the lines of both.
bool compareAndMarkAligned(const ListingPair& listings, FunctionRecord& secondFunction,
                           FunctionText secondText, const FunctionRecord& firstFunction,
                           FunctionText firstText) {
  const ProfileListing& second = listings.second;
  const ProfileListing& first = listings.first;
  if (secondFunction.textSize != firstFunction.textSize ||
      second.linesReadInPlace != first.linesReadInPlace) {
    return false;  // a carriage return would end a line in one listing and not in the other
  }
  LineInfo* secondInfos = listings.second.lineInfos.data() + secondFunction.firstLine;
  const LineInfo* firstInfos = first.lineInfos.data() + firstFunction.firstLine;
  if (!sameLineKinds(secondInfos, firstInfos, secondFunction.lineCount) ||
      !sameLinesFromColumn30(secondText.data(), firstText.data(), secondFunction.textSize)) {
    return false;
  }
  MarkCounts counts;
  const bool marked = markAlignedLines(secondText.data(), firstText.data(), secondFunction.textSize,
                                       secondFunction.lineCount, second.linesReadInPlace,
                                       secondInfos, firstInfos, counts);
  setCounts(secondFunction, counts, marked);
  return true;
}

// Compares a function with the listing-1 function chosen for it, both loaded, and records the
// outcome.
void comparePair(const ListingPair& listings, FunctionRecord& function, FunctionText text,
                 const FunctionRecord& candidate, FunctionText candidateText) {
  if (compareAndMark(listings, function, text, candidate, candidateText)) {
    function.pairState = PairState::Compared;
    function.partner = &candidate;
  } else {
    function.pairState = PairState::Different;
  }
}

}  // namespace

bool compareAndMark(const ListingPair& listings, FunctionRecord& secondFunction,
                    FunctionText secondText, const FunctionRecord& firstFunction,
                    FunctionText firstText) {
  ProfileListing& second = listings.second;
  if (secondFunction.lineDirective() != firstFunction.lineDirective()) return false;
  if (secondFunction.lineCount != firstFunction.lineCount) return false;
  if (!(secondFunction.statementNA && firstFunction.statementNA) &&
      secondFunction.statementTotal != firstFunction.statementTotal) {
    return false;
  }
  if (compareAndMarkAligned(listings, secondFunction, secondText, firstFunction, firstText)) {
    return true;
  }
  // One walk both tests the lines and marks them; marks made before a differing line are undone.
  FunctionLines secondLines(second, secondFunction, secondText);
  FunctionLines firstLines(listings.first, firstFunction, firstText);
  LineRecord after;
  LineRecord before;
  MarkCounts counts;
  bool marked = false;
  while (secondLines.next(after) && firstLines.next(before)) {
    if (!sameLine(after, before)) {
      if (marked) {
        LineInfo* info = second.lineInfos.data() + secondFunction.firstLine;
        for (std::size_t i = 0; i < secondFunction.lineCount; ++i) {
          info[i] = LineInfo(info[i].kind(), info[i].trailingMarker());
        }
      }
      return false;
    }
    markLinePair(before, after, counts);
    if (after.info.isMarked()) {
      second.lineInfos[secondLines.currentOffset(second)] = after.info;
      marked = true;
    }
  }
  setCounts(secondFunction, counts, marked);
  return true;
}

PairingPlan::PairingPlan(const ListingPair& listings) : fileCount_(listings.second.files.size()) {
  const ProfileListing& second = listings.second;
  const ProfileListing& first = listings.first;
  // The first listing-1 file with each "MONITORED " line is the partner of every listing-2 file
  // with that line.
  HeaderSet firstHeaders(first.files.size());
  LargeVector<std::size_t> firstFileWithHeader;  // by position in firstHeaders
  firstFileWithHeader.reserve(first.files.size());
  for (std::size_t i = 0; i < first.files.size(); ++i) {
    if (firstHeaders.add(first.files[i].headerLine)) firstFileWithHeader.push_back(i);
  }
  partners_.assign(fileCount_, kNoFile);
  for (std::size_t i = 0; i < fileCount_; ++i) {
    const std::size_t position = firstHeaders.position(second.files[i].headerLine);
    if (position != HeaderSet::kAbsent) partners_[i] = firstFileWithHeader[position];
  }

  // Reserved at once: growing step by step would copy each time, into newly touched pages.
  groupStarts_.reserve(fileCount_);
  nextInGroup_.assign(fileCount_, kNoFile);
  {
    LargeVector<std::size_t> lastWithPartner(first.files.size(), kNoFile);
    for (std::size_t f = 0; f < fileCount_; ++f) {
      const std::size_t partner = partners_[f];
      if (partner != kNoFile && lastWithPartner[partner] != kNoFile) {
        nextInGroup_[lastWithPartner[partner]] = f;
      } else {
        groupStarts_.push_back(f);
      }
      if (partner != kNoFile) lastWithPartner[partner] = f;
    }
  }

  const std::uint64_t batchBytes = second.textFile ? second.textFile->minimumRead : 0;
  const auto single = [&](std::size_t group) {
    return nextInGroup_[groupStarts_[group]] == kNoFile;
  };
  batchStarts_.reserve(groupStarts_.size() + 1);
  for (std::size_t group = 0; group < groupStarts_.size();) {
    batchStarts_.push_back(group);
    if (!single(group++)) continue;
    std::uint64_t bytes = functionsExtent(second, second.files[groupStarts_[group - 1]]);
    while (group < groupStarts_.size() && single(group) && bytes < batchBytes) {
      bytes += functionsExtent(second, second.files[groupStarts_[group++]]);
    }
  }
  batchStarts_.push_back(groupStarts_.size());
}

struct ThreadPairing::State {
  State(const ListingPair& listings, const PairingPlan& plan, PairingHooks& hooks,
        std::uint64_t sharedSectionBytes, bool keepSectionsForHooks)
      : listings(listings),
        plan(plan),
        hooks(hooks),
        sharedSectionBytes(sharedSectionBytes),
        keepSectionsForHooks(keepSectionsForHooks) {}

  void pairGroup(std::size_t group);
  void pairFile(std::size_t fileIndex, std::size_t partner);
  void chooseForSharing(const MonitoredFile& file);
  FunctionRecord* choosePartner(FunctionRecord& function, std::string_view functionLine);

  const ListingPair listings;
  const PairingPlan& plan;
  PairingHooks& hooks;
  const std::uint64_t sharedSectionBytes;
  const bool keepSectionsForHooks;
  // The loaders go before the index, which holds a section of `firstTexts`, and is gone first.
  SectionLoader secondTexts;
  SectionLoader firstTexts;
  CandidateIndex candidates;
  std::vector<ChosenPair> chosen;  // of a shared section; reused
};

// Marks the function as not paired yet and takes the listing-1 function that its FUNCTION line
// chooses in the indexed partner file, if there is one.
FunctionRecord* ThreadPairing::State::choosePartner(FunctionRecord& function,
                                                    std::string_view functionLine) {
  function.pairState = PairState::NotAvailable;
  function.partner = nullptr;
  const std::size_t counterpart =
      candidates.take(listings.first, pairingKey(functionLine.data(), function));
  if (counterpart == kNoFile) return nullptr;
  FunctionRecord& candidate = listings.first.functions[counterpart];
  candidate.taken = true;
  return &candidate;
}

void ThreadPairing::State::pairGroup(std::size_t group) {
  const std::size_t start = plan.firstFileOfGroup(group);
  const std::size_t partner = plan.partnerOf(start);
  if (partner != kNoFile) candidates.indexFile(listings.first, partner, firstTexts);
  for (std::size_t f = start; f != kNoFile; f = plan.nextInGroup(f)) pairFile(f, partner);
  candidates.forget();
}

// Chooses the partners of the functions of a large section, in order, into `chosen`.
void ThreadPairing::State::chooseForSharing(const MonitoredFile& file) {
  ProfileListing& second = listings.second;
  chosen.clear();
  for (std::size_t i = file.firstFunction; i < file.firstFunction + file.functionCount; ++i) {
    FunctionRecord& function = second.functions[i];
    // The FUNCTION line is kept for a large section, else read.
    const std::string_view functionLine =
        function.keptFunctionLine != nullptr
            ? std::string_view(function.keptFunctionLine, function.functionLineLength)
            : secondTexts.textOf(second, file, function).functionLine();
    if (FunctionRecord* candidate = choosePartner(function, functionLine)) {
      chosen.push_back({&function, candidate});
    }
  }
}

void ThreadPairing::State::pairFile(std::size_t fileIndex, std::size_t partner) {
  ProfileListing& second = listings.second;
  const MonitoredFile& file = second.files[fileIndex];
  SectionTexts texts(secondTexts, second, file);
  if (partner != kNoFile && sharedSectionBytes != kNeverShared &&
      functionsExtent(second, file) >= sharedSectionBytes) {
    chooseForSharing(file);
    hooks.compareShared({&file, &listings.first.files[partner], &chosen});
    hooks.filePaired(fileIndex, texts);
    return;
  }
  // The whole section at once, unless it is very large: the hooks want it again.
  const SectionHold held = keepSectionsForHooks
                               ? secondTexts.holdSection(second, file, kSectionLoadedWhole)
                               : SectionHold();
  for (std::size_t i = file.firstFunction; i < file.firstFunction + file.functionCount; ++i) {
    FunctionRecord& function = second.functions[i];
    if (partner == kNoFile) {
      function.pairState = PairState::NotAvailable;
      function.partner = nullptr;
      continue;
    }
    const FunctionText text = secondTexts.textOf(second, file, function);
    FunctionRecord* const candidate = choosePartner(function, text.functionLine());
    if (candidate == nullptr) continue;
    const FunctionText candidateText =
        firstTexts.textOf(listings.first, listings.first.files[partner], *candidate);
    comparePair(listings, function, text, *candidate, candidateText);
  }
  hooks.filePaired(fileIndex, texts);
}

ThreadPairing::ThreadPairing(const ListingPair& listings, const PairingPlan& plan,
                             PairingHooks& hooks, std::uint64_t sharedSectionBytes,
                             bool keepSectionsForHooks)
    : state_(std::make_unique<State>(listings, plan, hooks, sharedSectionBytes,
                                     keepSectionsForHooks)) {}

ThreadPairing::~ThreadPairing() = default;

void ThreadPairing::pairBatch(std::size_t batch) {
  for (std::size_t group = state_->plan.firstGroupOf(batch);
       group < state_->plan.firstGroupOf(batch + 1); ++group) {
    state_->pairGroup(group);
  }
}

void ThreadPairing::compareRun(const SharedSection& section, std::size_t begin, std::size_t end) {
  const ListingPair& listings = state_->listings;
  for (std::size_t i = begin; i < end; ++i) {
    const ChosenPair& pair = (*section.pairs)[i];
    const FunctionText text =
        state_->secondTexts.textOf(listings.second, *section.file, *pair.second);
    const FunctionText candidateText =
        state_->firstTexts.textOf(listings.first, *section.partnerFile, *pair.first);
    comparePair(listings, *pair.second, text, *pair.first, candidateText);
  }
}

}  // namespace qrvdiff
