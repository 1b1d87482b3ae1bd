// An output written under a temporary name replaces the file it names only when finished: an
// abandoned one leaves the earlier file as it was, in content and permission bits, and no file
// behind.

#include "base/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/stat.h>
#include <unistd.h>

#include "support/scratch_folder.h"

namespace qrvdiff {
namespace {

namespace fs = std::filesystem;

class OutputFiles : public testing::ScratchFolder {
 protected:
  void SetUp() override {
    ScratchFolder::SetUp();
    folder_ = fs::path(write("probe", "")).parent_path();
    fs::remove(folder_ / "probe");
  }

  std::string path(const std::string& name) const { return (folder_ / name).string(); }
  std::set<std::string> names() const {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      found.insert(entry.path().filename().string());
    }
    return found;
  }
  static std::string text(const std::string& file) {
    std::stringstream content;
    content << std::ifstream(file, std::ios::binary).rdbuf();
    return content.str();
  }
  static unsigned modeOf(const std::string& file) {
    struct stat status {};
    stat(file.c_str(), &status);
    return status.st_mode & 07777;
  }
  // Writes `content` to the open `output`.
  static void put(OutputFile& output, const std::string& content) {
    std::fputs(content.c_str(), output.stream());
  }

  fs::path folder_;
};

TEST_F(OutputFiles, NewFileAppearsOnlyWhenFinishedWithTheModeOfAnOrdinaryCreation) {
  for (const mode_t mask : {mode_t{022}, mode_t{077}}) {
    const mode_t previousMask = umask(mask);
    const std::string out = path("out.txt");
    OutputFile output;
    ASSERT_TRUE(output.open(out));
    put(output, "complete\n");
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(names().size(), 1u);  // the temporary file, beside the output
    EXPECT_TRUE(output.finish());
    umask(previousMask);
    EXPECT_EQ(text(out), "complete\n");
    EXPECT_EQ(modeOf(out), 0666u & ~mask);
    EXPECT_EQ(names(), std::set<std::string>{"out.txt"});
    fs::remove(out);
  }
}

TEST_F(OutputFiles, AbandonedOutputLeavesTheEarlierFileAndNoOtherBehind) {
  const std::string out = write("out.txt", "earlier\n");
  chmod(out.c_str(), 0640);
  {
    OutputFile output;
    ASSERT_TRUE(output.open(out));
    put(output, "half of it");
    output.abandon();
    EXPECT_FALSE(output.finish());
  }
  {
    OutputFile output;  // abandoned by its end
    ASSERT_TRUE(output.open(out));
    put(output, "half of it");
  }
  EXPECT_EQ(text(out), "earlier\n");
  EXPECT_EQ(modeOf(out), 0640u);
  EXPECT_EQ(names(), std::set<std::string>{"out.txt"});

  OutputFile output;
  ASSERT_TRUE(output.open(out));
  put(output, "complete\n");
  EXPECT_TRUE(output.finish());
  EXPECT_EQ(text(out), "complete\n");
  EXPECT_EQ(modeOf(out), 0640u);  // the bits of the file replaced, not those of a new one
  EXPECT_EQ(names(), std::set<std::string>{"out.txt"});
}

// A symbolic link stays one: the file it leads to, through relative links and also one that does
// not exist yet, is what the output replaces or creates.
TEST_F(OutputFiles, LinkedOutputReplacesTheFileTheLinkLeadsTo) {
  fs::create_directory(folder_ / "real");
  const std::string target = write("real/target.txt", "earlier\n");
  fs::create_symlink("real/target.txt", folder_ / "near");
  fs::create_symlink("near", folder_ / "out.txt");
  fs::create_symlink("real/new.txt", folder_ / "new.txt");
  for (const char* name : {"out.txt", "new.txt"}) {
    OutputFile output;
    ASSERT_TRUE(output.open(path(name)));
    put(output, std::string(name) + "\n");
    EXPECT_TRUE(output.finish());
    EXPECT_TRUE(fs::is_symlink(folder_ / name));
  }
  EXPECT_EQ(text(target), "out.txt\n");
  EXPECT_EQ(text(path("real/new.txt")), "new.txt\n");
  EXPECT_EQ(names(), (std::set<std::string>{"near", "new.txt", "out.txt", "real"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "real"), fs::directory_iterator()), 2);
}

// What cannot be replaced by renaming is written in place: a device, and a file of several names,
// whose other names then show the output as well.
TEST_F(OutputFiles, DevicesAndLinkedFilesAreWrittenDirectly) {
  OutputFile device;
  ASSERT_TRUE(device.open("/dev/null"));
  put(device, "gone\n");
  EXPECT_TRUE(device.finish());

  const std::string out = write("out.txt", "earlier\n");
  fs::create_hard_link(out, folder_ / "other.txt");
  OutputFile output;
  ASSERT_TRUE(output.open(out));
  EXPECT_EQ(names().size(), 2u);  // no temporary file
  put(output, "complete\n");
  EXPECT_TRUE(output.finish());
  EXPECT_EQ(text(path("other.txt")), "complete\n");
}

// A writable file in a directory where no file can be made is written in place.
TEST_F(OutputFiles, FileInAClosedDirectoryIsWrittenDirectly) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  fs::create_directory(folder_ / "closed");
  const std::string out = write("closed/out.txt", "earlier\n");
  chmod((folder_ / "closed").c_str(), 0555);
  OutputFile output;
  const bool opened = output.open(out);
  if (opened) {
    put(output, "complete\n");
    EXPECT_TRUE(output.finish());
  }
  chmod((folder_ / "closed").c_str(), 0755);
  ASSERT_TRUE(opened);
  EXPECT_EQ(text(out), "complete\n");
}

TEST_F(OutputFiles, MissingDirectoryOrDirectoryAsOutputCannotBeOpened) {
  OutputFile output;
  EXPECT_FALSE(output.open(path("missing/out.txt")));
  EXPECT_FALSE(output.open(folder_.string()));
  EXPECT_EQ(names().size(), 0u);
}

}  // namespace
}  // namespace qrvdiff

#endif
