#include "base/output_file.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <optional>
#include <random>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#define QRVDIFF_POSIX_OUTPUT_FILE 1
#endif

namespace qrvdiff {

#if defined(QRVDIFF_POSIX_OUTPUT_FILE)

namespace {

// The temporary file that a signal ending the process must remove. The handler reads only these
// two, and is installed only while `pendingArmed` is set; both are written with the signals
// below held, by the one thread that opens and finishes the output.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kSignalCount = std::size(kEndingSignals);
char pendingPath[4096];
volatile std::sig_atomic_t pendingArmed = 0;
struct sigaction previousActions[kSignalCount];
bool replacedAction[kSignalCount];

// Async-signal-safe: unlink, sigaction and raise only. The signal, raised again with its default
// action, ends the process once the handler returns.
void removePendingAndRaise(int signalNumber) {
  const int savedErrno = errno;
  if (pendingArmed != 0) unlink(pendingPath);
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  sigaction(signalNumber, &defaultAction, nullptr);
  raise(signalNumber);
  errno = savedErrno;
}

// Holds the ending signals off the calling thread for its lifetime, so that a file is never
// created or renamed without the handler knowing it.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signalNumber : kEndingSignals) sigaddset(&held, signalNumber);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~EndingSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// With the ending signals held. A signal the process ignores stays ignored.
void armRemoval(const std::string& path) {
  std::memcpy(pendingPath, path.c_str(), path.size() + 1);
  pendingArmed = 1;
  struct sigaction action {};
  action.sa_handler = removePendingAndRaise;
  sigemptyset(&action.sa_mask);
  for (const int signalNumber : kEndingSignals) sigaddset(&action.sa_mask, signalNumber);
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    sigaction(kEndingSignals[i], nullptr, &previousActions[i]);
    replacedAction[i] = previousActions[i].sa_handler != SIG_IGN;
    if (replacedAction[i]) sigaction(kEndingSignals[i], &action, nullptr);
  }
}

// With the ending signals held.
void disarmRemoval() {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    if (replacedAction[i]) sigaction(kEndingSignals[i], &previousActions[i], nullptr);
  }
  pendingArmed = 0;
}

// The file that writing to `path` would write to: symbolic links followed, also to a target that
// does not exist yet; nullopt when they do not end within the system's usual limit.
std::optional<std::string> linkTarget(std::string path) {
  constexpr int kMostLinks = 40;
  for (int link = 0; link < kMostLinks; ++link) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    std::string target(static_cast<std::size_t>(status.st_size) + 256, '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    path = target[0] == '/' || slash == std::string::npos ? target
                                                          : path.substr(0, slash + 1) + target;
  }
  return std::nullopt;
}

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Whether the file at `path`, which exists, can be replaced by another without anyone telling:
// a regular file of one name that this process may write, whose directory lets it be renamed over.
bool replaceable(const std::string& path, const struct stat& status) {
  if (!S_ISREG(status.st_mode) || status.st_nlink != 1) return false;
  const int probe = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (probe < 0) return false;  // written directly, the open fails as it would have
  close(probe);
  // In a directory with the sticky bit only the owner of a file, or of the directory, may
  // rename over it.
  const std::string directory = directoryOf(path);
  struct stat directoryStatus;
  if (stat(directory.empty() ? "." : directory.c_str(), &directoryStatus) != 0) return false;
  const uid_t self = geteuid();
  return (directoryStatus.st_mode & S_ISVTX) == 0 || self == 0 || status.st_uid == self ||
         directoryStatus.st_uid == self;
}

// Creates a file exclusively under an unpredictable name in `directory`, for writing; its
// descriptor, and the name in `created`; -1 when none can be made there.
int createTemporary(const std::string& directory, mode_t mode, std::string& created) try {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device randomness;  // the system's source of random bytes
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = directory + ".qrvdiff-";
    for (int i = 0; i < 12; ++i) name += kLetters[randomness() % (sizeof kLetters - 1)];
    if (name.size() >= sizeof pendingPath) return -1;
    const int descriptor =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
    if (descriptor >= 0) {
      created = std::move(name);
      return descriptor;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
} catch (const std::exception&) {
  return -1;  // no source of random bytes
}

// Gives the new file at `descriptor` the owner and permission bits of the one it replaces.
bool takeOver(int descriptor, const struct stat& replaced) {
  if ((replaced.st_uid != geteuid() || replaced.st_gid != getegid()) &&
      fchown(descriptor, replaced.st_uid, replaced.st_gid) != 0) {
    return false;
  }
  return fchmod(descriptor, replaced.st_mode & 07777) == 0;
}

// Opens a file under a temporary name to become `target`, taking over from the file of status
// `replaced` (none for a new one), and arms its removal; a null stream when none can be made.
FileHandle openTemporary(const std::string& target, const struct stat* replaced,
                         std::string& temporary) {
  const EndingSignalsHeld held;
  if (pendingArmed != 0) return nullptr;  // another output holds the handler's one name
  // A new file gets 0666 less the umask from the system, as opening with "w" gives it; one
  // that replaces another is private until it has that one's owner and bits.
  const int descriptor =
      createTemporary(directoryOf(target), replaced != nullptr ? 0600 : 0666, temporary);
  if (descriptor < 0) return nullptr;
  FileHandle stream;
  if (replaced == nullptr || takeOver(descriptor, *replaced)) {
    stream.reset(fdopen(descriptor, "w"));
  }
  if (!stream) {
    close(descriptor);
    unlink(temporary.c_str());
    return nullptr;
  }
  armRemoval(temporary);
  return stream;
}

}  // namespace

bool OutputFile::open(const std::string& path) {
  abandon();
  const std::optional<std::string> target = linkTarget(path);
  struct stat status;
  const bool exists = target && stat(target->c_str(), &status) == 0;
  const bool missing = target && !exists && errno == ENOENT;
  if ((exists && replaceable(*target, status)) || missing) {
    std::string temporary;
    stream_ = openTemporary(*target, exists ? &status : nullptr, temporary);
    if (stream_) {
      temporaryPath_ = std::move(temporary);
      targetPath_ = *target;
      return true;
    }
  }
  stream_.reset(openFile(path, "w"));
  return stream_ != nullptr;
}

bool OutputFile::finish() {
  if (!stream_) return false;
  bool done = std::fclose(stream_.release()) == 0;
  if (temporaryPath_.empty()) return done;
  const EndingSignalsHeld held;
  done = done && std::rename(temporaryPath_.c_str(), targetPath_.c_str()) == 0;
  if (!done) unlink(temporaryPath_.c_str());
  disarmRemoval();
  temporaryPath_.clear();
  return done;
}

void OutputFile::abandon() noexcept {
  if (!stream_) return;
  std::fclose(stream_.release());
  if (temporaryPath_.empty()) return;
  const EndingSignalsHeld held;
  unlink(temporaryPath_.c_str());
  disarmRemoval();
  temporaryPath_.clear();
}

#else

bool OutputFile::open(const std::string& path) {
  abandon();
  stream_.reset(openFile(path, "w"));
  return stream_ != nullptr;
}

bool OutputFile::finish() {
  return stream_ && std::fclose(stream_.release()) == 0;
}

void OutputFile::abandon() noexcept {
  if (stream_) std::fclose(stream_.release());
}

#endif

}  // namespace qrvdiff
