// The shared stream layer, run over the in-memory fake backend.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/fake.h"
#include "platform/platform.h"

namespace {

namespace fake = plat::fake;

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }

  std::vector<std::u16string> ReadLines(const std::u16string& path, int n) {
    plat::Stream* s = plat::StreamOpen(path.c_str(), u"rt");
    EXPECT_NE(s, nullptr);
    std::vector<std::u16string> lines;
    if (s == nullptr) return lines;
    std::vector<char16_t> buffer(n);
    while (plat::StreamReadLine(buffer.data(), n, s) != nullptr) lines.emplace_back(buffer.data());
    EXPECT_TRUE(plat::StreamAtEof(s));
    EXPECT_FALSE(plat::StreamHasError(s));
    EXPECT_EQ(plat::StreamClose(s), 0);
    return lines;
  }
};

TEST_F(StreamTest, ReadsUtf16LinesAndEndsWithNothingRead) {
  fake::AddFile(u"\\s.inf", std::string("\xFF\xFE" "a\0\r\0\n\0b\0", 10));
  plat::Stream* s = plat::StreamOpen(u"\\s.inf", u"rt");
  ASSERT_NE(s, nullptr);
  char16_t buffer[8];
  ASSERT_EQ(plat::StreamReadLine(buffer, 8, s), buffer);
  EXPECT_EQ(std::u16string(buffer), u"a\n");
  EXPECT_FALSE(plat::StreamAtEof(s));
  ASSERT_EQ(plat::StreamReadLine(buffer, 8, s), buffer);
  EXPECT_EQ(std::u16string(buffer), u"b");
  std::u16string before(buffer, 8);
  EXPECT_EQ(plat::StreamReadLine(buffer, 8, s), nullptr);
  EXPECT_EQ(std::u16string(buffer, 8), before);
  EXPECT_TRUE(plat::StreamAtEof(s));
  EXPECT_FALSE(plat::StreamHasError(s));
  EXPECT_EQ(plat::StreamClose(s), 0);
}

TEST_F(StreamTest, LongLinesAndCrLfAcrossChunks) {
  std::string bytes;
  std::vector<std::u16string> expected;
  // Lines of 97 characters plus CR LF put the pairs at ever different chunk offsets.
  for (int i = 0; i < 200; ++i) {
    const std::string line(97, static_cast<char>('a' + i % 26));
    bytes += line + "\r\n";
    expected.push_back(std::u16string(97, static_cast<char16_t>(u'a' + i % 26)) + u"\n");
  }
  bytes += std::string(300, 'z');
  expected.push_back(std::u16string(259, u'z'));
  expected.push_back(std::u16string(41, u'z'));
  fake::AddFile(u"\\big.inf", bytes);
  EXPECT_EQ(ReadLines(u"\\big.inf", 260), expected);
}

TEST_F(StreamTest, ReadLineCountsZeroUnitsAndStopsShortOfASplitPair) {
  // "a" NUL "b" LF, then "cde" and U+1F600 (which a buffer of 4 units and the
  // terminator cannot take behind "cde"), then "f".
  fake::AddFile(u"\\z.txt", std::string("a\0b\ncde\xF0\x9F\x98\x80" "f", 12));
  plat::Stream* s = plat::StreamOpen(u"\\z.txt", u"rt");
  ASSERT_NE(s, nullptr);
  const std::u16string expected[] = {std::u16string(u"a\0b\n", 4), u"cde", u"\U0001F600f"};
  char16_t buffer[5];
  std::size_t count = 99;
  for (const std::u16string& line : expected) {
    ASSERT_EQ(plat::StreamReadLine(buffer, 5, s, &count), buffer);
    EXPECT_EQ(std::u16string(buffer, count), line);
    EXPECT_EQ(buffer[count], 0);
  }
  EXPECT_EQ(plat::StreamReadLine(buffer, 5, s, &count), nullptr);
  EXPECT_EQ(count, 0u);
  plat::StreamClose(s);
}

TEST_F(StreamTest, ModesAndOpenFailures) {
  struct OpenCase {
    const char16_t* path;
    const char16_t* mode;
    std::uint32_t error;  // 0: opens
  };
  fake::AddFile(u"\\Temp\\a.bin", "x");
  const std::vector<OpenCase> cases = {
      {u"\\Temp\\a.bin", u"rt", 0},        {u"\\Temp\\a.bin", u"r+b", 0},
      {u"\\Temp\\new.bin", u"w+b", 0},     {u"\\Temp\\missing", u"rt", 2},
      {u"\\Temp\\missing", u"r+b", 2},     {u"\\NoDir\\x.bin", u"w+b", 3},
      {u"\\Temp\\a.bin", u"r", 87},        {u"\\Temp\\a.bin", u"wb", 87},
  };
  for (const OpenCase& c : cases) {
    plat::SetLastErrorCode(0);
    plat::Stream* s = plat::StreamOpen(c.path, c.mode);
    EXPECT_EQ(s != nullptr, c.error == 0) << std::string(c.path, c.path + 3);
    if (s != nullptr) {
      plat::StreamClose(s);
    } else {
      EXPECT_EQ(plat::LastError(), c.error);
    }
  }
  EXPECT_EQ(fake::FileContents(u"\\Temp\\new.bin"), "");
}

TEST_F(StreamTest, CounterFileRoundTrip) {
  plat::Stream* s = plat::StreamOpen(u"\\Temp\\c.log", u"w+b");
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
  fake::AddDirectory(u"\\Temp");
  s = plat::StreamOpen(u"\\Temp\\c.log", u"w+b");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(plat::StreamWriteInt32(0x12345678, s), 1u);
  EXPECT_EQ(plat::StreamClose(s), 0);
  EXPECT_EQ(fake::FileContents(u"\\Temp\\c.log"), std::string("\x78\x56\x34\x12", 4));

  s = plat::StreamOpen(u"\\Temp\\c.log", u"r+b");
  ASSERT_NE(s, nullptr);
  std::int32_t value = 0;
  EXPECT_EQ(plat::StreamReadInt32(&value, s), 1u);
  EXPECT_EQ(value, 0x12345678);
  plat::StreamRewind(s);
  EXPECT_EQ(plat::StreamWriteInt32(-2, s), 1u);
  EXPECT_EQ(plat::StreamClose(s), 0);
  EXPECT_EQ(fake::FileContents(u"\\Temp\\c.log"), std::string("\xFE\xFF\xFF\xFF", 4));
}

TEST_F(StreamTest, ShortCounterFileReadsNothing) {
  for (std::size_t size = 0; size < 4; ++size) {
    fake::AddFile(u"\\c.log", std::string(size, '\x01'));
    plat::Stream* s = plat::StreamOpen(u"\\c.log", u"r+b");
    ASSERT_NE(s, nullptr);
    std::int32_t value = 77;
    EXPECT_EQ(plat::StreamReadInt32(&value, s), 0u) << size;
    EXPECT_EQ(value, 77) << size;
    EXPECT_TRUE(plat::StreamAtEof(s)) << size;
    EXPECT_FALSE(plat::StreamHasError(s)) << size;
    plat::StreamRewind(s);
    EXPECT_FALSE(plat::StreamAtEof(s));
    plat::StreamClose(s);
  }
}

TEST_F(StreamTest, WriteAfterReadLandsAtTheReadPosition) {
  fake::AddFile(u"\\c.bin", std::string("\x01\0\0\0\x02\0\0\0\x03\0\0\0", 12));
  plat::Stream* s = plat::StreamOpen(u"\\c.bin", u"r+b");
  ASSERT_NE(s, nullptr);
  std::int32_t value = 0;
  ASSERT_EQ(plat::StreamReadInt32(&value, s), 1u);
  EXPECT_EQ(plat::StreamWriteInt32(9, s), 1u);
  ASSERT_EQ(plat::StreamReadInt32(&value, s), 1u);
  EXPECT_EQ(value, 3);
  plat::StreamClose(s);
  EXPECT_EQ(fake::FileContents(u"\\c.bin"), std::string("\x01\0\0\0\x09\0\0\0\x03\0\0\0", 12));
}

TEST_F(StreamTest, WriteOnTextStreamFails) {
  fake::AddFile(u"\\a.txt", "abc");
  plat::Stream* s = plat::StreamOpen(u"\\a.txt", u"rt");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(plat::StreamWriteInt32(1, s), 0u);
  EXPECT_TRUE(plat::StreamHasError(s));
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
  plat::StreamRewind(s);
  EXPECT_FALSE(plat::StreamHasError(s));
  plat::StreamClose(s);
  EXPECT_EQ(fake::FileContents(u"\\a.txt"), "abc");
}

TEST_F(StreamTest, InjectedReadFailureSetsErrorAndLastError) {
  fake::AddFile(u"\\s.inf", "one\ntwo\n");
  fake::InjectFailure({"StreamReadLine", 5, 2, u"\\S.INF"});
  plat::Stream* s = plat::StreamOpen(u"\\s.inf", u"rt");
  ASSERT_NE(s, nullptr);
  char16_t buffer[16] = u"keep";
  EXPECT_NE(plat::StreamReadLine(buffer, 16, s), nullptr);
  EXPECT_FALSE(plat::StreamHasError(s));
  std::u16string before(buffer);
  EXPECT_EQ(plat::StreamReadLine(buffer, 16, s), nullptr);
  EXPECT_TRUE(plat::StreamHasError(s));
  EXPECT_FALSE(plat::StreamAtEof(s));
  EXPECT_EQ(plat::LastError(), 5u);
  EXPECT_EQ(std::u16string(buffer), before);
  plat::StreamClose(s);
}

TEST_F(StreamTest, SharingWithExclusiveFiles) {
  fake::AddFile(u"\\a.txt", "abc");
  plat::Stream* s1 = plat::StreamOpen(u"\\a.txt", u"rt");
  plat::Stream* s2 = plat::StreamOpen(u"\\A.TXT", u"rt");
  ASSERT_NE(s1, nullptr);
  ASSERT_NE(s2, nullptr);
  EXPECT_EQ(plat::FileOpenRead(u"\\a.txt"), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  plat::StreamClose(s1);
  plat::StreamClose(s2);
  plat::File* f = plat::FileOpenRead(u"\\a.txt");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(plat::StreamOpen(u"\\a.txt", u"rt"), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  plat::FileClose(f);
}

TEST_F(StreamTest, StreamCallsAreRecordedWithoutTheirInnerFileCalls) {
  fake::AddFile(u"\\s.inf", "x\n");
  plat::Stream* s = plat::StreamOpen(u"\\s.inf", u"rt");
  char16_t buffer[8];
  plat::StreamReadLine(buffer, 8, s);
  plat::StreamClose(s);
  std::vector<std::string> ops;
  for (const fake::Call& c : fake::Calls()) ops.push_back(c.op);
  EXPECT_EQ(ops, (std::vector<std::string>{"StreamOpen", "StreamReadLine", "StreamClose"}));
  const fake::Call open = fake::CallsOf("StreamOpen").at(0);
  EXPECT_EQ(open.text, u"\\s.inf");
  EXPECT_EQ(open.text2, u"rt");
  EXPECT_TRUE(open.ok);
  const fake::Call read = fake::CallsOf("StreamReadLine").at(0);
  EXPECT_EQ(read.number, 2);
  EXPECT_EQ(read.text2, u"x\n");
}

}  // namespace
