// Byte copy of one file and creation of directories along a path.
#include "installer/file_ops.h"

#include <string>
#include <vector>

#include "test_support.h"

namespace brixcopy::test {
namespace {

using plat::fake::AddFile;
using plat::fake::FileContents;
using plat::fake::InjectFailure;

// Bytes of every value 0..255 repeated, so that a misplaced chunk shows.
std::string Pattern(std::size_t n) {
  std::string bytes(n, '\0');
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

using CopyOneFileTest = FakeDeviceTest;

TEST_F(CopyOneFileTest, MissingSourceCreatesNoDestination) {
  EXPECT_EQ(CopyOneFile(u"\\src\\a.bin", u"\\dst.bin"), 0);
  EXPECT_EQ(Debug(),
            "BrixCopy: cannot open source file: \\src\\a.bin\r\nGetLastError returned: 3\r\n");
  EXPECT_FALSE(FileContents(u"\\dst.bin").has_value());
  EXPECT_TRUE(plat::fake::CallsOf("FileCreateWrite").empty());
}

TEST_F(CopyOneFileTest, MissingSourceLeavesExistingDestinationUntouched) {
  AddFile(u"\\dst.bin", "keep me");
  EXPECT_EQ(CopyOneFile(u"\\a.bin", u"\\dst.bin"), 0);
  EXPECT_EQ(Debug(), "BrixCopy: cannot open source file: \\a.bin\r\nGetLastError returned: 2\r\n");
  EXPECT_EQ(FileContents(u"\\dst.bin"), "keep me");
}

// Sizes around the chunk boundaries, with the write calls each must take.
struct SizeCase {
  std::size_t size;
  std::vector<std::int64_t> writes;
};

class CopySizeTest : public FakeDeviceTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(CopySizeTest, CopiesInChunksOf8192) {
  const SizeCase& c = GetParam();
  const std::string bytes = Pattern(c.size);
  AddFile(u"\\a.bin", bytes);
  EXPECT_EQ(CopyOneFile(u"\\a.bin", u"\\b.bin"), 1);
  EXPECT_EQ(FileContents(u"\\b.bin"), bytes);
  EXPECT_EQ(NumbersOf("FileWrite"), c.writes);
  EXPECT_EQ(Debug(), "");
}

INSTANTIATE_TEST_SUITE_P(Sizes, CopySizeTest,
                         ::testing::Values(SizeCase{0, {}}, SizeCase{1, {1}},
                                           SizeCase{8191, {8191}}, SizeCase{8192, {8192}},
                                           SizeCase{8193, {8192, 1}},
                                           SizeCase{16385, {8192, 8192, 1}}));

TEST_F(CopyOneFileTest, TruncatesLongerDestination) {
  AddFile(u"\\a.txt", "short");
  AddFile(u"\\b.txt", std::string(20000, 'x'));
  EXPECT_EQ(CopyOneFile(u"\\a.txt", u"\\b.txt"), 1);
  EXPECT_EQ(FileContents(u"\\b.txt"), "short");
}

TEST_F(CopyOneFileTest, MissingDestinationFolderFailsAndClosesSource) {
  AddFile(u"\\a.txt", "data");
  EXPECT_EQ(CopyOneFile(u"\\a.txt", u"\\NoDir\\b.txt"), 0);
  EXPECT_EQ(Debug(),
            "BrixCopy: cannot create destination file: \\NoDir\\b.txt\r\nGetLastError returned: 3\r\n");
  EXPECT_EQ(plat::fake::CallsOf("FileClose").size(), 1u);
  // The source is no longer held: it can be copied again at once.
  EXPECT_EQ(CopyOneFile(u"\\a.txt", u"\\c.txt"), 1);
}

TEST_F(CopyOneFileTest, SameFileAsSourceAndDestinationFails) {
  AddFile(u"\\a.txt", "unchanged");
  EXPECT_EQ(CopyOneFile(u"\\a.txt", u"\\a.txt"), 0);
  EXPECT_EQ(Debug(),
            "BrixCopy: cannot create destination file: \\a.txt\r\nGetLastError returned: 32\r\n");
  EXPECT_EQ(FileContents(u"\\a.txt"), "unchanged");
}

// Failing transfer calls: which occurrences fail, and what the copy comes to.
struct RetryCase {
  const char* name;
  std::string op;
  std::vector<int> failingOccurrences;  // {0}: every call
  std::int32_t result;
  std::size_t calls;  // recorded calls of op
  std::string message;
};

class CopyRetryTest : public FakeDeviceTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(CopyRetryTest, RetriesWithinBound) {
  const RetryCase& c = GetParam();
  const std::string bytes = Pattern(10000);
  AddFile(u"\\a.bin", bytes);
  for (int occurrence : c.failingOccurrences)
    InjectFailure({c.op, plat::kErrorAccessDenied, occurrence, u""});
  EXPECT_EQ(CopyOneFile(u"\\a.bin", u"\\b.bin"), c.result);
  EXPECT_EQ(plat::fake::CallsOf(c.op).size(), c.calls);
  EXPECT_EQ(Debug(), c.message);
  if (c.result == 1) {
    EXPECT_EQ(FileContents(u"\\b.bin"), bytes);
  }
  // Both files are closed whatever the outcome.
  EXPECT_EQ(plat::fake::CallsOf("FileClose").size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CopyRetryTest,
    ::testing::Values(
        // 10000 bytes take reads of 8192, 1808 and 0.
        RetryCase{"ReadRecovers", "FileRead", {1, 2}, 1, 5, ""},
        RetryCase{"LaterReadRecovers", "FileRead", {2}, 1, 4, ""},
        RetryCase{"ReadBoundReached", "FileRead", {0}, 0, 3,
                  "BrixCopy: cannot read source file: \\a.bin\r\nGetLastError returned: 5\r\n"},
        RetryCase{"ReadBoundOnSecondChunk", "FileRead", {2, 3, 4}, 0, 4,
                  "BrixCopy: cannot read source file: \\a.bin\r\nGetLastError returned: 5\r\n"},
        RetryCase{"WriteRecovers", "FileWrite", {1, 2}, 1, 4, ""},
        RetryCase{"WriteBoundReached", "FileWrite", {0}, 0, 3,
                  "BrixCopy: cannot write destination file: \\b.bin\r\nGetLastError returned: 5\r\n"},
        // The destination's last bytes may be stored only when it is closed.
        RetryCase{"DestinationCloseFails", "FileClose", {2}, 0, 2,
                  "BrixCopy: cannot write destination file: \\b.bin\r\nGetLastError returned: 5\r\n"},
        RetryCase{"SourceCloseFailureIsHarmless", "FileClose", {1}, 1, 2, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Each row: a path and the directories created for it, in order.
struct PathCase {
  std::string path;
  std::vector<std::string> created;
};

class CreatePathTest : public FakeDeviceTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(CreatePathTest, CreatesPrefixesInOrder) {
  const PathCase& c = GetParam();
  CreatePath(U(c.path).c_str());
  EXPECT_EQ(TextsOf("MakeDirectory"), c.created);
  EXPECT_EQ(Debug(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, CreatePathTest,
    ::testing::Values(
        PathCase{"\\Windows\\App\\app.exe", {"\\Windows", "\\Windows\\App"}},
        PathCase{"\\Windows\\App\\", {"\\Windows", "\\Windows\\App", "\\\\Windows\\App\\"}},
        PathCase{"\\Windows\\App", {"\\Windows", "\\\\Windows\\App"}},
        PathCase{"\\Windows", {"\\\\Windows"}},
        PathCase{"\\My.Dir\\App", {"\\My.Dir"}},
        PathCase{"\\Data.1\\Sub\\file", {"\\Data.1", "\\Data.1\\Sub"}},
        PathCase{"App\\Data\\x.bin", {"App", "App\\Data"}},
        PathCase{"App\\Data", {"App", "\\App\\Data"}},
        PathCase{"App", {"\\App"}},
        PathCase{"\\", {}},
        PathCase{"a", {}},
        PathCase{"", {}},
        // 258 units: the final name takes all 260 units with its terminator.
        PathCase{"\\d\\" + std::string(255, 'x'), {"\\d", "\\\\d\\" + std::string(255, 'x')}},
        // 259 units: the final name would not fit and is not created.
        PathCase{"\\d\\" + std::string(256, 'x'), {"\\d"}},
        // A prefix longer than any path buffer is skipped, the shorter ones are not.
        PathCase{"\\a\\" + std::string(290, 'x') + "\\y", {"\\a"}}));

TEST_F(FakeDeviceTest, CreatePathTwiceChangesNothing) {
  CreatePath(u"\\Windows\\App\\app.exe");
  const auto tree = plat::fake::ListTree();
  EXPECT_TRUE(plat::fake::IsDirectory(u"\\Windows\\App"));
  CreatePath(u"\\Windows\\App\\app.exe");
  EXPECT_EQ(plat::fake::ListTree(), tree);
  EXPECT_EQ(Debug(), "");
}

}  // namespace
}  // namespace brixcopy::test
