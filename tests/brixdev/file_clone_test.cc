// A file given another's content: same bytes and size, holes kept as holes,
// a hard link only when asked for and no reflink could be made.
#include "brixdev/device/file_clone.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/brixdev/workbench_support.h"

namespace {

TEST(CloneFile, KeepsTheContentAndTheHoles) {
  wbtest::TempFolder folder;
  const std::string source = folder.path() + "/sparse.bin";
  {
    // 8 MiB of which two small pieces hold data.
    const int fd = open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "head", 4, 0), 4);
    ASSERT_EQ(pwrite(fd, "tail", 4, (8 << 20) - 4), 4);
    close(fd);
  }
  const std::string target = folder.path() + "/copy.bin";
  brixdev::CloneWay way = brixdev::CloneWay::kHardLink;
  std::string error;
  ASSERT_TRUE(brixdev::CloneFile(source, target, false, &way, &error)) << error;
  EXPECT_NE(way, brixdev::CloneWay::kHardLink);
  EXPECT_EQ(wbtest::ReadFile(target), wbtest::ReadFile(source));
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 8 << 20);
  EXPECT_LT(st.st_blocks * 512, 1 << 20);  // the holes were not written
  EXPECT_EQ(st.st_mode & 0777, 0755u);     // runnable, as every device file
  // An existing target is never overwritten.
  EXPECT_FALSE(brixdev::CloneFile(source, target, false, &way, &error));
}

TEST(CloneFile, LinksOnlyWhereNoReflinkCanBeMade) {
  wbtest::TempFolder folder;
  const std::string source = folder.Write("a.txt", "content");
  const std::string target = folder.path() + "/b.txt";
  brixdev::CloneWay way = brixdev::CloneWay::kCopy;
  std::string error;
  ASSERT_TRUE(brixdev::CloneFile(source, target, true, &way, &error)) << error;
  EXPECT_EQ(wbtest::ReadFile(target), "content");
  struct stat a {}, b {};
  ASSERT_EQ(stat(source.c_str(), &a), 0);
  ASSERT_EQ(stat(target.c_str(), &b), 0);
  // A reflink is a file of its own; a hard link is the same file.
  EXPECT_EQ(a.st_ino == b.st_ino, way == brixdev::CloneWay::kHardLink);
  EXPECT_NE(way, brixdev::CloneWay::kCopy);
}

}  // namespace
