#include "compare/pairing.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "base/hashed_index.h"
#include "compare/marking.h"
#include "compare/text_blocks.h"
#include "listing/header_set.h"
#include "listing/section_loader.h"

namespace qrvdiff {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
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
  // FUNCTION lines are kept copies, or come from the section, which `firstTexts` loads whole
  // and then keeps for as long as its functions are loaded one by one.
  void indexFile(const ProfileListing& first, std::size_t fileIndex, SectionLoader& firstTexts) {
    const MonitoredFile& file = first.files[fileIndex];
    functions_ = first.functionsBegin(file);
    firstTexts.loadSection(first, file, kSectionLoadedWhole);
    index_.reset(file.functionCount);
    chains_.clear();
    next_.assign(file.functionCount, kNoFunction);
    functionLines_.resize(file.functionCount);
    for (std::uint32_t i = 0; i < file.functionCount; ++i) {
      if (functions_[i].taken) continue;
      const FunctionRecord& function = functions_[i];
      functionLines_[i] = function.keptFunctionLine != nullptr
                              ? function.keptFunctionLine
                              : firstTexts.textOf(first, file, function);
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

  // The first untaken function of the indexed file with this key, now taken; kNone when there
  // is none. An index into the listing's functions.
  std::size_t take(const ProfileListing& first, std::string_view key) {
    const std::uint32_t chain = findChain(hashText(key), key);
    if (chain == HashedIndex::kNotFound || chains_[chain].head == kNoFunction) return kNone;
    const std::uint32_t taken = chains_[chain].head;
    chains_[chain].head = next_[taken];
    return static_cast<std::size_t>(&functions_[taken] - first.functions.data());
  }

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
bool compareAndMarkAligned(ProfileListing& second, FunctionRecord& secondFunction,
                           const ProfileListing& first, const FunctionRecord& firstFunction) {
  if (secondFunction.textSize != firstFunction.textSize ||
      second.linesReadInPlace != first.linesReadInPlace) {
    return false;  // a carriage return would end a line in one listing and not in the other
  }
  LineInfo* secondInfos = second.lineInfos.data() + secondFunction.firstLine;
  const LineInfo* firstInfos = first.lineInfos.data() + firstFunction.firstLine;
  if (!sameLineKinds(secondInfos, firstInfos, secondFunction.lineCount) ||
      !sameLinesFromColumn30(secondFunction.text, firstFunction.text, secondFunction.textSize)) {
    return false;
  }
  MarkCounts counts;
  const bool marked = markAlignedLines(secondFunction.text, firstFunction.text,
                                       secondFunction.textSize, secondFunction.lineCount,
                                       second.linesReadInPlace, secondInfos, firstInfos, counts);
  setCounts(secondFunction, counts, marked);
  return true;
}

// Compares a function with the listing-1 function chosen for it, both loaded, and records the
// outcome.
void comparePair(ProfileListing& second, FunctionRecord& function, const ProfileListing& first,
                 const FunctionRecord& candidate) {
  if (compareAndMark(second, function, first, candidate)) {
    function.pairState = PairState::Compared;
    function.partner = &candidate;
  } else {
    function.pairState = PairState::Different;
  }
}

// A listing-2 function and the listing-1 function that FUNCTION lines chose for it.
struct ChosenPair {
  FunctionRecord* second;
  FunctionRecord* first;
};

// The loaders through which one thread brings texts in.
struct ThreadTexts {
  SectionLoader second;
  SectionLoader first;
};

// The pairs of one file section to compare and mark.
struct Job {
  ProfileListing* second;
  const MonitoredFile* file;
  ProfileListing* first;
  const MonitoredFile* partnerFile;
  const std::vector<ChosenPair>* pairs;
};

// Comparing and marking the functions of one large file section, shared with every thread that
// has nothing else to do. Which listing-1 function each function is compared with depends on the
// functions before it, so the thread that took the section decides that in order; the comparing,
// most of the work, then goes to all threads a run of functions at a time: one large section
// would otherwise keep one thread busy while the other waits. One section is shared at a time.
class SharedComparisons {
 public:
  explicit SharedComparisons(std::size_t threads) : pairingThreads_(threads) {}

  // Compares and marks every pair, with the help of idle threads when no other section is being
  // shared; returns when all are done.
  void compareAll(const Job& job, ThreadTexts& texts) {
    {
      std::unique_lock lock(mutex_);
      if (job_) {
        lock.unlock();
        std::atomic<std::size_t> next{0};
        work(job, next, texts);
        return;
      }
      job_ = job;
      ++jobNumber_;
      next_ = 0;
      failure_ = nullptr;
      workers_ = 1;
    }
    idle_.notify_all();
    const std::exception_ptr ownFailure = workOn(job, texts);
    // The pairs stay in use until every helper has returned.
    std::unique_lock lock(mutex_);
    --workers_;
    done_.wait(lock, [&] { return workers_ == 0; });
    job_.reset();
    if (ownFailure) std::rethrow_exception(ownFailure);
    if (failure_) std::rethrow_exception(failure_);
  }

  // Once for each thread, when it takes no more sections of its own, also after a failure.
  void stopPairing() {
    {
      std::lock_guard lock(mutex_);
      --pairingThreads_;
    }
    idle_.notify_all();
  }

  // Helps with shared sections until no thread pairs sections of its own any more.
  void helpUntilAllDone(ThreadTexts& texts) {
    std::unique_lock lock(mutex_);
    std::uint64_t lastJob = 0;
    for (;;) {
      idle_.wait(lock, [&] { return pairingThreads_ == 0 || (job_ && jobNumber_ != lastJob); });
      if (!job_ || jobNumber_ == lastJob) return;
      lastJob = jobNumber_;
      ++workers_;
      const Job job = *job_;  // stays posted until every worker has returned
      lock.unlock();
      const std::exception_ptr failure = workOn(job, texts);
      lock.lock();
      if (failure && !failure_) failure_ = failure;
      if (--workers_ == 0) done_.notify_all();
    }
  }

 private:
  // Functions taken at a time: enough for each thread's loaders to read only the parts of the
  // section that its own runs need.
  static constexpr std::size_t kRun = 256;

  // Works on the posted section; a failure ends the work of every thread on it, and is returned.
  std::exception_ptr workOn(const Job& job, ThreadTexts& texts) {
    try {
      work(job, next_, texts);
      return nullptr;
    } catch (...) {
      next_ = job.pairs->size();
      return std::current_exception();
    }
  }

  // Takes runs of pairs until none is left.
  static void work(const Job& job, std::atomic<std::size_t>& next, ThreadTexts& texts) {
    const std::size_t count = job.pairs->size();
    for (std::size_t begin = next.fetch_add(kRun); begin < count; begin = next.fetch_add(kRun)) {
      const std::size_t end = std::min(count, begin + kRun);
      for (std::size_t i = begin; i < end; ++i) {
        const ChosenPair& pair = (*job.pairs)[i];
        texts.second.load(*job.second, *job.file, *pair.second);
        texts.first.load(*job.first, *job.partnerFile, *pair.first);
        comparePair(*job.second, *pair.second, *job.first, *pair.first);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable idle_;  // a section was posted, or a thread stopped pairing
  std::condition_variable done_;  // a helper finished its part of the posted section
  std::optional<Job> job_;
  std::uint64_t jobNumber_ = 0;
  std::atomic<std::size_t> next_{0};
  std::size_t workers_ = 0;     // threads working on the posted section
  std::size_t pairingThreads_;  // threads still taking sections of their own
  std::exception_ptr failure_;
};

}  // namespace

bool compareAndMark(ProfileListing& second, FunctionRecord& secondFunction,
                    const ProfileListing& first, const FunctionRecord& firstFunction) {
  if (secondFunction.lineDirective() != firstFunction.lineDirective()) return false;
  if (secondFunction.lineCount != firstFunction.lineCount) return false;
  if (!(secondFunction.statementNA && firstFunction.statementNA) &&
      secondFunction.statementTotal != firstFunction.statementTotal) {
    return false;
  }
  if (compareAndMarkAligned(second, secondFunction, first, firstFunction)) return true;
  // One walk both tests the lines and marks them; marks made before a differing line are undone.
  FunctionLines secondLines(second, secondFunction);
  FunctionLines firstLines(first, firstFunction);
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

std::size_t pairingThreadsFor(const ProfileListing& second) {
  // A second thread pays off only for large listings.
  constexpr std::size_t kLinesWorthASecondThread = 200000;
  return second.lineInfos.size() < kLinesWorthASecondThread ? 1 : 2;
}

void pairFiles(ProfileListing& second, ProfileListing& first) {
  pairFiles(second, first, pairingThreadsFor(second));
}

void pairFiles(ProfileListing& second, ProfileListing& first, std::size_t threads,
               PairedFileHandler* handler, std::uint64_t sharedSectionBytes) {
  // The first listing-1 file with each "MONITORED " line is the partner of every listing-2 file
  // with that line.
  HeaderSet firstHeaders(first.files.size());
  LargeVector<std::size_t> firstFileWithHeader;  // by position in firstHeaders
  firstFileWithHeader.reserve(first.files.size());
  for (std::size_t i = 0; i < first.files.size(); ++i) {
    if (firstHeaders.add(first.files[i].headerLine)) firstFileWithHeader.push_back(i);
  }
  LargeVector<std::size_t> partners(second.files.size(), kNone);
  for (std::size_t i = 0; i < second.files.size(); ++i) {
    const std::size_t position = firstHeaders.position(second.files[i].headerLine);
    if (position != HeaderSet::kAbsent) partners[i] = firstFileWithHeader[position];
  }

  // Functions of different partner files never compete for a candidate, so the work is shared
  // out by partner: a group is a listing-2 file with the files after it that have the same
  // partner, paired in listing order by one thread. Files without a partner stand alone. The
  // threads take groups in turn as they become free, so both stay busy to the end.
  // The first file of each group, in listing order; reserved at once, as growing it step by
  // step would copy it each time, into fresh memory.
  LargeVector<std::size_t> groupStarts;
  groupStarts.reserve(second.files.size());
  LargeVector<std::size_t> nextInGroup(second.files.size(), kNone);
  {
    LargeVector<std::size_t> lastWithPartner(first.files.size(), kNone);
    for (std::size_t f = 0; f < second.files.size(); ++f) {
      const std::size_t partner = partners[f];
      if (partner != kNone && lastWithPartner[partner] != kNone) {
        nextInGroup[lastWithPartner[partner]] = f;
      } else {
        groupStarts.push_back(f);
      }
      if (partner != kNone) lastWithPartner[partner] = f;
    }
  }
  // A thread takes a batch of groups at a time: a group of several files alone, or a run of
  // single-file groups that spans about one reading of listing 2 from its file. Taken one by one,
  // sections far smaller than a reading would have each thread read the stretch around every
  // other section again, which doubles the reading. A batch is paired in listing order, so what
  // is said below of a group holds for a batch.
  const std::uint64_t batchBytes = second.textFile ? second.textFile->minimumRead : 0;
  LargeVector<std::size_t> batchStarts;  // the first group of each batch
  batchStarts.reserve(groupStarts.size() + 1);
  for (std::size_t group = 0; group < groupStarts.size();) {
    batchStarts.push_back(group);
    const auto single = [&](std::size_t g) { return nextInGroup[groupStarts[g]] == kNone; };
    if (!single(group++)) continue;
    std::uint64_t bytes = functionsExtent(second, second.files[groupStarts[group - 1]]);
    while (group < groupStarts.size() && single(group) && bytes < batchBytes) {
      bytes += functionsExtent(second, second.files[groupStarts[group++]]);
    }
  }
  batchStarts.push_back(groupStarts.size());

  std::atomic<std::size_t> nextBatch{0};
  // Every file before the returned one has been taken by a thread.
  const auto firstUntakenFile = [&] {
    const std::size_t batch = nextBatch.load();
    return batch + 1 < batchStarts.size() ? groupStarts[batchStarts[batch]] : second.files.size();
  };

  // One thread, or two: the caller's and a helper.
  const std::size_t runningThreads = threads < 2 ? 1 : 2;
  SharedComparisons shared(runningThreads);
  // Marks the function as not paired yet and takes the listing-1 function that its FUNCTION line
  // chooses in the indexed partner file, if there is one.
  const auto choosePartner = [&](CandidateIndex& candidates, FunctionRecord& function,
                                 const char* functionLine) -> FunctionRecord* {
    function.pairState = PairState::NotAvailable;
    function.partner = nullptr;
    const std::size_t counterpart = candidates.take(first, pairingKey(functionLine, function));
    if (counterpart == kNone) return nullptr;
    FunctionRecord& candidate = first.functions[counterpart];
    candidate.taken = true;
    return &candidate;
  };
  // Pairs the files of one group, in listing order, with the texts those loaders hold.
  const auto pairGroup = [&](std::size_t group, CandidateIndex& candidates, ThreadTexts& texts,
                             std::vector<ChosenPair>& chosen) {
    SectionLoader& secondTexts = texts.second;
    SectionLoader& firstTexts = texts.first;
    const std::size_t partner = partners[groupStarts[group]];
    if (partner != kNone) candidates.indexFile(first, partner, firstTexts);
    for (std::size_t f = groupStarts[group]; f != kNone; f = nextInGroup[f]) {
      const MonitoredFile& file = second.files[f];
      if (runningThreads == 2 && partner != kNone &&
          functionsExtent(second, file) >= sharedSectionBytes) {
        chosen.clear();
        for (std::size_t i = file.firstFunction; i < file.firstFunction + file.functionCount; ++i) {
          FunctionRecord& function = second.functions[i];
          // The FUNCTION line is kept for a large section, else read.
          const char* functionLine = function.keptFunctionLine;
          if (functionLine == nullptr) functionLine = secondTexts.textOf(second, file, function);
          if (FunctionRecord* candidate = choosePartner(candidates, function, functionLine)) {
            chosen.push_back({&function, candidate});
          }
        }
        shared.compareAll({&second, &file, &first, &first.files[partner], &chosen}, texts);
        if (handler != nullptr) handler->filePaired(f, secondTexts, firstUntakenFile());
        continue;
      }
      // The whole section at once, unless it is very large: the handler may want it again.
      if (handler != nullptr) secondTexts.loadSection(second, file, kSectionLoadedWhole);
      for (std::size_t i = file.firstFunction; i < file.firstFunction + file.functionCount; ++i) {
        FunctionRecord& function = second.functions[i];
        if (partner == kNone) {
          function.pairState = PairState::NotAvailable;
          function.partner = nullptr;
          continue;
        }
        secondTexts.load(second, file, function);
        FunctionRecord* const candidate = choosePartner(candidates, function, function.text);
        if (candidate == nullptr) continue;
        firstTexts.load(first, first.files[partner], *candidate);
        comparePair(second, function, first, *candidate);
      }
      if (handler != nullptr) handler->filePaired(f, secondTexts, firstUntakenFile());
    }
  };
  const auto pairGroups = [&](ThreadTexts& texts) {
    CandidateIndex candidates;
    std::vector<ChosenPair> chosen;
    for (std::size_t batch = nextBatch++; batch + 1 < batchStarts.size(); batch = nextBatch++) {
      for (std::size_t group = batchStarts[batch]; group < batchStarts[batch + 1]; ++group) {
        pairGroup(group, candidates, texts, chosen);
      }
    }
  };
  // A thread that fails lets the handler know, so that nothing waits for its files, and takes
  // no more groups. A thread out of groups helps with large sections of the others.
  const auto runThread = [&] {
    ThreadTexts texts;
    try {
      pairGroups(texts);
    } catch (...) {
      nextBatch = batchStarts.size();
      shared.stopPairing();
      if (handler != nullptr) handler->abandon();
      throw;
    }
    shared.stopPairing();
    shared.helpUntilAllDone(texts);
  };

  if (runningThreads == 1) {
    runThread();
    return;
  }
  std::exception_ptr failure;
  {
    std::optional<std::jthread> helper;
    try {
      helper.emplace([&] {
        try {
          runThread();
        } catch (...) {
          failure = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      // The system gives no second thread (a limit of threads or of memory): this one does all
      // the work, and no thread is left to wait for one that never started.
      shared.stopPairing();
    }
    runThread();
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace qrvdiff
