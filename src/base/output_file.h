#pragma once

#include <cstdio>
#include <string>

#include "base/platform.h"

namespace qrvdiff {

// The output file of a run, which appears complete or not at all. A regular file (a new one, or
// one that a symbolic link names) is written under a temporary name in its own directory, created
// exclusively under an unpredictable name, and renamed over the output once it is complete; it
// keeps the permission bits and owner of the file it replaces, and a new one gets those that
// opening with "w" gives (0666 less the umask). Until then the temporary file is removed on every
// failure, and when SIGINT, SIGTERM or SIGHUP ends the process.
//
// Anything else is written directly, as opening with "w" does: a device, a FIFO, a file with
// other names (hard links), one whose owner could not be kept, one in a directory where no file
// can be made, and everything on a platform without the POSIX calls this needs.
//
// The stream is in text mode: on Windows each "\n" is written as CR LF, as on standard output.
//
// At most one output file of a process is written under a temporary name at a time: the signal
// handler knows one name.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // An unfinished output is abandoned.
  ~OutputFile() { abandon(); }

  // Opens `path` for writing; false when it cannot be created or opened for writing.
  bool open(const std::string& path);
  // The stream to write to; null before open() and after finish() or abandon().
  std::FILE* stream() const { return stream_.get(); }
  explicit operator bool() const { return stream_ != nullptr; }

  // Closes the stream and puts the file in place of the output. False when the close or the
  // renaming failed (a failed write shows in the close): the output is then as it was before the
  // run, unless it was written directly.
  bool finish();
  // Closes the stream and removes the temporary file: the output is as it was before the run,
  // unless it was written directly.
  void abandon() noexcept;

 private:
  FileHandle stream_;
  std::string temporaryPath_;  // empty when the output is written directly
  std::string targetPath_;     // what the temporary file becomes
};

}  // namespace qrvdiff
