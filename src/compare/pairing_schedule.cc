#include "compare/pairing_schedule.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "compare/pairing.h"

namespace qrvdiff {

namespace {

// Comparing and marking the pairs of one large file section, shared with every thread that has
// nothing else to do: one large section would otherwise keep one thread busy while the other
// waits. One section is shared at a time.
class SharedComparisons {
 public:
  explicit SharedComparisons(std::size_t threads) : pairingThreads_(threads) {}

  // Compares and marks every pair, with the help of idle threads when no other section is being
  // shared; returns when all are done.
  void compareAll(const SharedSection& section, ThreadPairing& own) {
    {
      std::unique_lock lock(mutex_);
      if (section_) {
        lock.unlock();
        std::atomic<std::size_t> next{0};
        work(section, next, own);
        return;
      }
      section_ = section;
      ++sectionNumber_;
      next_ = 0;
      failure_ = nullptr;
      workers_ = 1;
    }
    idle_.notify_all();
    const std::exception_ptr ownFailure = workOn(section, own);
    // The pairs stay in use until every helper has returned.
    std::unique_lock lock(mutex_);
    --workers_;
    done_.wait(lock, [&] { return workers_ == 0; });
    section_.reset();
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
  void helpUntilAllDone(ThreadPairing& own) {
    std::unique_lock lock(mutex_);
    std::uint64_t lastSection = 0;
    for (;;) {
      idle_.wait(lock, [&] {
        return pairingThreads_ == 0 || (section_ && sectionNumber_ != lastSection);
      });
      if (!section_ || sectionNumber_ == lastSection) return;
      lastSection = sectionNumber_;
      ++workers_;
      const SharedSection section = *section_;  // stays posted until every worker has returned
      lock.unlock();
      const std::exception_ptr failure = workOn(section, own);
      lock.lock();
      if (failure && !failure_) failure_ = failure;
      if (--workers_ == 0) done_.notify_all();
    }
  }

 private:
  // Pairs taken at a time: enough for each thread's loaders to read only the parts of the
  // section that its own runs need.
  static constexpr std::size_t kRun = 256;

  // Works on the posted section; a failure ends the work of every thread on it, and is returned.
  std::exception_ptr workOn(const SharedSection& section, ThreadPairing& own) {
    try {
      work(section, next_, own);
      return nullptr;
    } catch (...) {
      next_ = section.pairs->size();
      return std::current_exception();
    }
  }

  // Takes runs of pairs until none is left.
  static void work(const SharedSection& section, std::atomic<std::size_t>& next,
                   ThreadPairing& own) {
    const std::size_t count = section.pairs->size();
    for (std::size_t begin = next.fetch_add(kRun); begin < count; begin = next.fetch_add(kRun)) {
      own.compareRun(section, begin, std::min(count, begin + kRun));
    }
  }

  std::mutex mutex_;
  std::condition_variable idle_;  // a section was posted, or a thread stopped pairing
  std::condition_variable done_;  // a helper finished its part of the posted section
  std::optional<SharedSection> section_;
  std::uint64_t sectionNumber_ = 0;
  std::atomic<std::size_t> next_{0};
  std::size_t workers_ = 0;     // threads working on the posted section
  std::size_t pairingThreads_;  // threads still taking sections of their own
  std::exception_ptr failure_;
};

// What the threads of one pairFiles() share.
struct Schedule {
  const ListingPair& listings;
  const PairingPlan& plan;
  BatchClaims& claims;
  SharedComparisons& shared;
  PairedFileHandler* handler;
  std::uint64_t sharedSectionBytes;
};

// One thread's part: it claims a batch, pairs it to the end in listing order, and only then
// claims the next. Together with the claims' order this is what lets the handler wait: when every
// file before file n has been claimed, let m be the first of them not yet handed on. Were m
// claimed by the thread that hands on n, m would follow n in its batch, yet comes before it; were
// the other thread waiting too, for a file k after m, m would follow k in that thread's batch in
// the same way. So whoever claimed m is pairing it, and the wait ends.
class ThreadRun final : public PairingHooks {
 public:
  explicit ThreadRun(const Schedule& schedule)
      : schedule_(schedule),
        pairing_(schedule.listings, schedule.plan, *this, schedule.sharedSectionBytes,
                 schedule.handler != nullptr) {}

  // Pairs batches until none is left, then helps with the large sections of the others. A
  // thread that fails lets the handler know, so that nothing waits for its files, and takes no
  // more batches.
  void run() {
    try {
      while (const std::optional<std::size_t> batch = schedule_.claims.claim()) {
        lastFile_ = kNoFile;
        pairing_.pairBatch(*batch);
      }
    } catch (...) {
      schedule_.claims.closeAll();
      schedule_.shared.stopPairing();
      if (schedule_.handler != nullptr) schedule_.handler->abandon();
      throw;
    }
    schedule_.shared.stopPairing();
    schedule_.shared.helpUntilAllDone(pairing_);
  }

  void compareShared(const SharedSection& section) override {
    schedule_.shared.compareAll(section, pairing_);
  }

  void filePaired(std::size_t fileIndex, SectionTexts& texts) override {
    // The handler's waiting relies on this order.
    if (lastFile_ != kNoFile && fileIndex <= lastFile_) {
      throw std::logic_error("the files of a batch paired out of listing order");
    }
    lastFile_ = fileIndex;
    if (schedule_.handler == nullptr) return;
    const std::size_t firstUnclaimedFile =
        schedule_.plan.firstFileOf(schedule_.claims.firstUnclaimed());
    schedule_.handler->filePaired(fileIndex, texts, firstUnclaimedFile > fileIndex);
  }

 private:
  const Schedule& schedule_;
  ThreadPairing pairing_;
  std::size_t lastFile_ = kNoFile;  // handed on last in the batch at hand
};

}  // namespace

std::size_t pairingThreadsFor(const ProfileListing& second) {
  // A second thread pays off only for large listings.
  constexpr std::size_t kLinesWorthASecondThread = 200000;
  return second.lineInfos.size() < kLinesWorthASecondThread ? 1 : 2;
}

void pairFiles(const ListingPair& listings) {
  pairFiles(listings, pairingThreadsFor(listings.second));
}

void pairFiles(const ListingPair& listings, std::size_t threads, PairedFileHandler* handler,
               std::uint64_t sharedSectionBytes) {
  const PairingPlan plan(listings);
  BatchClaims claims(plan.batchCount());
  // One thread, or two: the caller's and a helper.
  const std::size_t runningThreads = threads < 2 ? 1 : 2;
  SharedComparisons shared(runningThreads);
  const Schedule schedule{listings, plan,
                          claims,   shared,
                          handler,  runningThreads == 2 ? sharedSectionBytes : kNeverShared};
  const auto runThread = [&] { ThreadRun(schedule).run(); };
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
