// Replacing files: either the old content or the new one, never a mixture,
// and no temporary files left behind.
#include "document/files/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "FileTestUtil.h"

namespace velmora::test {
namespace {

class AtomicFileTest : public TempDirTest {
 protected:
  mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  }
};

TEST_F(AtomicFileTest, CreatesAndReplacesWithoutLeftovers) {
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(Path("settings.ini"), "first", 5, error)) << error;
  EXPECT_EQ(ReadBytes(Path("settings.ini")), ToBytes("first"));
  ASSERT_TRUE(WriteFileAtomically(Path("settings.ini"), "second, longer", 14, error)) << error;
  EXPECT_EQ(ReadBytes(Path("settings.ini")), ToBytes("second, longer"));
  ASSERT_TRUE(WriteFileAtomically(Path("settings.ini"), "", 0, error)) << error;
  EXPECT_TRUE(ReadBytes(Path("settings.ini")).empty());
  EXPECT_EQ(Entries(), std::vector<std::string>{"settings.ini"});
}

TEST_F(AtomicFileTest, TemporaryFileIsHiddenInTheSameFolderUntilCommit) {
  WriteBytes(Path("list.txt"), ToBytes("old"));
  AtomicFile file(Path("list.txt"));
  std::string error;
  ASSERT_TRUE(file.Open(error)) << error;
  const std::string temp = file.TemporaryPath();
  EXPECT_EQ(temp.rfind(dir_ + "/.", 0), 0u) << temp;
  std::fputs("new", file.Stream());
  EXPECT_EQ(ReadBytes(Path("list.txt")), ToBytes("old"));  // not yet
  ASSERT_TRUE(file.Commit(error)) << error;
  EXPECT_EQ(ReadBytes(Path("list.txt")), ToBytes("new"));
  EXPECT_EQ(Entries(), std::vector<std::string>{"list.txt"});
}

TEST_F(AtomicFileTest, AbandonedOrFailedWritesKeepTheOldContent) {
  const Bytes old = ToBytes("precious");
  WriteBytes(Path("data.bin"), old);
  std::string error;

  // The writer reports a failure: its reason comes through.
  EXPECT_FALSE(WriteFileAtomically(
      Path("data.bin"),
      [](std::FILE* f, std::string& why) {
        std::fputs("half of the new", f);
        why = "encoder gave up";
        return false;
      },
      error));
  EXPECT_EQ(error, "encoder gave up");
  EXPECT_EQ(ReadBytes(Path("data.bin")), old);
  EXPECT_EQ(Entries(), std::vector<std::string>{"data.bin"});

  // Dropped without Commit (an exception, an early return).
  {
    AtomicFile file(Path("data.bin"));
    ASSERT_TRUE(file.Open(error)) << error;
    std::fputs("never committed", file.Stream());
  }
  EXPECT_EQ(ReadBytes(Path("data.bin")), old);
  EXPECT_EQ(Entries(), std::vector<std::string>{"data.bin"});
}

TEST_F(AtomicFileTest, MissingFolderOrDirectoryInTheWayFails) {
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(Path("no/such/folder/file.txt"), "x", 1, error));
  EXPECT_EQ(error, std::strerror(ENOENT));

  ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
  EXPECT_FALSE(WriteFileAtomically(Path("sub"), "x", 1, error));
  EXPECT_EQ(error, std::strerror(EISDIR));
  EXPECT_TRUE(std::filesystem::is_directory(Path("sub")));
  EXPECT_TRUE(std::filesystem::is_empty(Path("sub")));
  EXPECT_EQ(Entries(), std::vector<std::string>{"sub"});
}

TEST_F(AtomicFileTest, KeepsPermissionsAndFollowsLinks) {
  std::string error;
  WriteBytes(Path("private.txt"), ToBytes("a"));
  ASSERT_EQ(chmod(Path("private.txt").c_str(), 0640), 0);
  ASSERT_TRUE(WriteFileAtomically(Path("private.txt"), "b", 1, error)) << error;
  EXPECT_EQ(ModeOf(Path("private.txt")), 0640u);

  // A new file gets what the umask allows, not mkstemp's 0600.
  const mode_t old = umask(022);
  ASSERT_TRUE(WriteFileAtomically(Path("new.txt"), "c", 1, error)) << error;
  umask(old);
  EXPECT_EQ(ModeOf(Path("new.txt")), 0644u);

  // Writing through a link replaces the file it points at; the link stays.
  ASSERT_EQ(symlink("private.txt", Path("link.txt").c_str()), 0);
  ASSERT_TRUE(WriteFileAtomically(Path("link.txt"), "through", 7, error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(Path("link.txt")));
  EXPECT_EQ(ReadBytes(Path("private.txt")), ToBytes("through"));
}

}  // namespace
}  // namespace velmora::test
