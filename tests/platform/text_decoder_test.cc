#include "platform/text_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using plat::text::ByteSource;
using plat::text::LineDecoder;
using plat::text::LineResult;

// Bytes handed out at most chunk at a time; fails once failAt bytes have been delivered.
class MemorySource : public ByteSource {
 public:
  MemorySource(std::string bytes, std::size_t chunk, std::size_t failAt = std::string::npos)
      : bytes_(std::move(bytes)), chunk_(chunk), failAt_(failAt) {}
  std::int64_t Read(std::uint8_t* dst, std::size_t capacity) override {
    if (pos_ >= failAt_) return -1;
    std::size_t n = std::min({capacity, chunk_, bytes_.size() - pos_});
    if (failAt_ != std::string::npos) n = std::min(n, failAt_ - pos_);
    std::copy(bytes_.begin() + pos_, bytes_.begin() + pos_ + n, dst);
    pos_ += n;
    return static_cast<std::int64_t>(n);
  }

 private:
  std::string bytes_;
  std::size_t chunk_;
  std::size_t failAt_;
  std::size_t pos_ = 0;
};

std::vector<std::u16string> ReadAll(const std::string& bytes, int n, std::size_t chunk) {
  MemorySource source(bytes, chunk);
  LineDecoder decoder;
  std::vector<std::u16string> lines;
  std::vector<char16_t> buffer(n > 0 ? n : 1, u'Z');
  for (int guard = 0; guard < 10000; ++guard) {
    const LineResult r = decoder.ReadLine(source, buffer.data(), n);
    if (r.count == 0) break;
    lines.emplace_back(buffer.data(), r.count);
    EXPECT_EQ(buffer[r.count], 0);
  }
  return lines;
}

struct Case {
  const char* name;
  std::string bytes;
  int n;
  std::vector<std::u16string> lines;
};

std::string Repeat(char c, std::size_t count) { return std::string(count, c); }

// text as UTF-16 bytes behind the byte order mark of that order.
std::string Utf16(std::u16string_view text, bool little) {
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t u : text) {
    const char low = static_cast<char>(u & 0xFF), high = static_cast<char>(u >> 8);
    out += little ? std::string{low, high} : std::string{high, low};
  }
  return out;
}

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"plain utf8", "ab\ncd", 260, {u"ab\n", u"cd"}},
      {"empty file", "", 260, {}},
      {"utf8 mark is not text", "\xEF\xBB\xBFhi\n", 260, {u"hi\n"}},
      {"utf8 mark only", "\xEF\xBB\xBF", 260, {}},
      {"utf16le mark", std::string("\xFF\xFEh\0i\0\n\0", 8), 260, {u"hi\n"}},
      {"utf16be mark", std::string("\xFE\xFF\0h\0i\0\n", 8), 260, {u"hi\n"}},
      {"utf16le crlf", std::string("\xFF\xFE" "a\0\r\0\n\0b\0", 10), 260, {u"a\n", u"b"}},
      {"utf16be crlf", std::string("\xFE\xFF\0a\0\r\0\n\0b", 10), 260, {u"a\n", u"b"}},
      {"utf16le pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), 260, {u"\U0001F600"}},
      {"utf16le lone high surrogate kept", std::string("\xFF\xFE\x00\xD8" "A\0", 6), 260, {u"\xD800" u"A"}},
      {"utf16le odd final byte", std::string("\xFF\xFE" "A\0B", 5), 260, {u"A\uFFFD"}},
      {"utf16 mark only", "\xFF\xFE", 260, {}},
      {"two-byte start of utf8 mark", "\xEF\xBB", 260, {u"\u00EF\u00BB"}},
      {"valid utf8", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 260, {u"\u00E9\u20AC\U0001F600"}},
      {"windows-1252 bytes", "\x80\x82\x8A\x9F\xE9\xFF", 260, {u"\u20AC\u201A\u0160\u0178\u00E9\u00FF"}},
      {"undefined windows-1252 bytes", "\x81\x8D\x8F\x90\x9D", 260, {u"\u0081\u008D\u008F\u0090\u009D"}},
      {"overlong two-byte", "\xC0\xAF", 260, {u"\u00C0\u00AF"}},
      {"overlong three-byte", "\xE0\x80\xAF", 260, {u"\u00E0\u20AC\u00AF"}},
      {"encoded surrogate", "\xED\xA0\x80", 260, {u"\u00ED\u00A0\u20AC"}},
      {"above U+10FFFF", "\xF4\x90\x80\x80", 260, {u"\u00F4\u0090\u20AC\u20AC"}},
      {"truncated at end", "a\xE2\x82", 260, {u"a\u00E2\u201A"}},
      {"truncated before ascii", "\xE2\x82" "A\n", 260, {u"\u00E2\u201A" u"A\n"}},
      {"crlf folded, lone cr kept", "a\rb\r\nc", 260, {u"a\rb\n", u"c"}},
      {"cr cr lf", "\r\r\n", 260, {u"\r\n"}},
      {"cr at end", "a\r", 260, {u"a\r"}},
      {"blank lines", "\n\r\n\n", 260, {u"\n", u"\n", u"\n"}},
      {"300 units with n=260", Repeat('a', 300) + "\n", 260,
       {std::u16string(259, u'a'), std::u16string(41, u'a') + u"\n"}},
      {"crlf after full buffer", "abc\r\nd", 4, {u"abc", u"\n", u"d"}},
      {"crlf in last slot", "ab\r\nd", 4, {u"ab\n", u"d"}},
      {"pair kept for next call", "ab\xF0\x9F\x98\x80" "c", 4, {u"ab", u"\U0001F600c"}},
      {"pair split only when one unit fits", "\xF0\x9F\x98\x80", 2, {u"\xD83D", u"\xDE00"}},
      {"crlf across read chunks", Repeat('x', 4095) + "\r\ny", 8192,
       {std::u16string(4095, u'x') + u"\n", u"y"}},
      // Runs of one-byte characters are taken many at a time: whatever breaks a run
      // (a sequence, a CR, the line's end, the buffer's end) must land exactly.
      {"sequence inside a long run", "abcdefghij\xC3\xA9klmnopqrstu\xF0\x9F\x98\x80vwxyz\n", 260,
       {u"abcdefghij\u00E9klmnopqrstu\U0001F600vwxyz\n"}},
      {"1252 byte after eight", "12345678\x80" "9", 260, {u"12345678\u20AC9"}},
      {"cr inside a long run", "abcdefghijkl\rmnopqrstuvw\r\nxyz", 260,
       {u"abcdefghijkl\rmnopqrstuvw\n", u"xyz"}},
      {"zero unit inside a long run", std::string("abcdefgh\0ijklmnop\nq", 19), 260,
       {std::u16string(u"abcdefgh\0ijklmnop\n", 18), u"q"}},
      {"long run cut at the buffer", "abcdefghijklmnopqrst\n", 10,
       {u"abcdefghi", u"jklmnopqr", u"st\n"}},
      {"line feed ends a run of eight", "abcdefg\nhijklmno\n", 260, {u"abcdefg\n", u"hijklmno\n"}},
      {"utf16le runs cut at the buffer", Utf16(u"abcdefghijklmn\r\nop", true), 5,
       {u"abcd", u"efgh", u"ijkl", u"mn\n", u"op"}},
      {"utf16be run with a pair and a lone low surrogate",
       Utf16(u"abcdefghij\U0001F600k\xDC00lmnopqrs\n", false), 260,
       {u"abcdefghij\U0001F600k\xDC00lmnopqrs\n"}},
  };
  return cases;
}

TEST(TextDecoder, DecodesEveryCaseWhateverTheChunkSize) {
  for (const Case& c : Cases()) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{4096}}) {
      SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk));
      EXPECT_EQ(ReadAll(c.bytes, c.n, chunk), c.lines);
    }
  }
}

TEST(TextDecoder, NothingReadLeavesBufferUntouched) {
  for (int n : {0, 1, 260}) {
    MemorySource source(n == 260 ? "" : "abc", 4096);
    LineDecoder decoder;
    char16_t buffer[4] = {u'Z', u'Z', u'Z', u'Z'};
    const LineResult r = decoder.ReadLine(source, buffer, n);
    EXPECT_EQ(r.count, 0u) << n;
    EXPECT_EQ(r.hitEnd, n == 260) << n;
    EXPECT_EQ(std::u16string(buffer, 4), u"ZZZZ") << n;
  }
}

TEST(TextDecoder, EndIsReportedWithTheLastLine) {
  MemorySource source("a\nb", 4096);
  LineDecoder decoder;
  char16_t buffer[16];
  EXPECT_FALSE(decoder.ReadLine(source, buffer, 16).hitEnd);
  const LineResult last = decoder.ReadLine(source, buffer, 16);
  EXPECT_EQ(last.count, 1u);
  EXPECT_TRUE(last.hitEnd);
}

TEST(TextDecoder, SourceFailureKeepsWhatWasReadAndReportsIt) {
  MemorySource source("abc\ndef", 4096, 5);
  LineDecoder decoder;
  char16_t buffer[16];
  LineResult r = decoder.ReadLine(source, buffer, 16);
  EXPECT_EQ(std::u16string(buffer, r.count), u"abc\n");
  r = decoder.ReadLine(source, buffer, 16);
  EXPECT_TRUE(r.failed);
  EXPECT_EQ(std::u16string(buffer, r.count), u"d");
  buffer[0] = u'Z';
  r = decoder.ReadLine(source, buffer, 16);
  EXPECT_TRUE(r.failed);
  EXPECT_EQ(r.count, 0u);
  EXPECT_EQ(buffer[0], u'Z');
}

TEST(TextDecoder, RawReadsShareTheReadAhead) {
  MemorySource source(std::string("\x01\x02\x03\x04\x05", 5), 4096);
  LineDecoder decoder;
  std::uint8_t bytes[4] = {};
  EXPECT_EQ(decoder.ReadRaw(source, bytes, 2), 2);
  EXPECT_EQ(decoder.Buffered(), 3u);
  EXPECT_EQ(decoder.ReadRaw(source, bytes, 4), 3);
  EXPECT_EQ(bytes[0], 3);
  EXPECT_EQ(bytes[2], 5);
  EXPECT_EQ(decoder.ReadRaw(source, bytes, 4), 0);
}

TEST(TextDecoder, Windows1252CoversTheWholeByteRange) {
  EXPECT_EQ(plat::text::Windows1252(0x41), U'A');
  EXPECT_EQ(plat::text::Windows1252(0x80), U'\u20AC');
  EXPECT_EQ(plat::text::Windows1252(0x9D), U'\u009D');
  EXPECT_EQ(plat::text::Windows1252(0xA0), U'\u00A0');
  EXPECT_EQ(plat::text::Windows1252(0xFF), U'\u00FF');
}

}  // namespace
