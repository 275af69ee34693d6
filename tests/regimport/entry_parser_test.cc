// The entry parser: tokens, every key and value form with its exact bytes,
// hexadecimal numbers and the limits of names and data.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "regimport/brixparse.h"
#include "tests/regimport/import_test_util.h"

namespace brixparse::test {

namespace {

using regtest::Bytes;
using regtest::Widen;

TEST(GetToken, TokensAndConsumedCounts) {
  struct Case {
    std::u16string text;
    std::optional<std::u16string> token;  // nullopt: no token
    std::size_t consumed = 0;
  } cases[] = {
      {u"abc", std::nullopt},
      {u"", std::nullopt},
      {u"ab;[x]", std::nullopt},
      {u"  = x", u"=", 1},
      {u"=", u"=", 1},
      {u"a b:c", u"a", 4},
      {u"  ::dword:1", u"dword", 3},
      {u"dword :1", u"dword", 7},
      {u": :", std::nullopt},
      {u"x[abc]y", u"[abc]", 5},
      {u"[a\"b]", u"[a\"b]", 4},
      {u"[abc", std::nullopt},
      {u"a\"b;c\"d", u"\"b;c\"", 5},
      {u"\"\"", u"\"\"", 1},
      {u"\"abc", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    std::u16string token = u"untouched";
    std::size_t consumed = 99;
    const int result = CBrixparse::GetToken(c.text.c_str(), token, consumed);
    if (!c.token) {
      EXPECT_EQ(result, 0);
      continue;
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(token, *c.token);
    EXPECT_EQ(consumed, c.consumed);
  }
}

TEST(HexToULong, Table) {
  const std::pair<std::u16string, std::uint32_t> cases[] = {
      {u"0000000a", 10},       {u"0x1F", 31},          {u"0X1F", 0},
      {u"  ff", 255},          {u"123456789", 0x23456789}, {u"-1", 0},
      {u"zz", 0},              {u"", 0},               {u"FFFFFFFF", 0xFFFFFFFFu},
      {u"x0x05", 5},           {u"\t\r 7g", 7},         {u"000", 0},
      {u"abcdef", 0xabcdef},   {u"ABCDEF", 0xabcdef},   {u"10 20", 0x10},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(CBrixparse::HexToULong(text.c_str()), expected) << std::string(text.begin(), text.end());
}

struct EntryCase {
  std::u16string line;
  int result;                 // what ParseEntry yields
  std::int32_t kind = 0;      // for result 1
  std::u16string text{};      // key path or value name
  std::uint32_t type = 0;
  std::string data{};
};

void CheckEntry(const EntryCase& c) {
  SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
  CLineEntry entry;
  ASSERT_EQ(CBrixparse::ParseEntry(entry, c.line), c.result);
  if (c.result == 0) return;
  EXPECT_EQ(entry.kind, c.kind);
  if (c.kind == kEntryKey) {
    EXPECT_EQ(entry.token, c.text);
    return;
  }
  EXPECT_EQ(entry.valueName, c.text);
  EXPECT_EQ(entry.type, c.type);
  EXPECT_EQ(std::string(entry.data.begin(), entry.data.end()), c.data);
  EXPECT_EQ(entry.size, c.data.size());
}

TEST(ParseEntry, KeyLines) {
  const EntryCase cases[] = {
      {u"[HKEY_LOCAL_MACHINE\\Software\\A]", 1, kEntryKey, u"HKEY_LOCAL_MACHINE\\Software\\A"},
      {u"  junk [HKEY_CURRENT_USER\\X] more", 1, kEntryKey, u"HKEY_CURRENT_USER\\X"},
      {u"[]", 1, kEntryKey, u""},
      {u"[a;b\"c=d:e]", 1, kEntryKey, u"a;b\"c=d:e"},
      {u"[HKEY_LOCAL_MACHINE\\A", 0},
      {u"", 0},
      {u"plain text", 0},
      {u"; [HKEY_LOCAL_MACHINE\\A]", 0},
  };
  for (const EntryCase& c : cases) CheckEntry(c);
}

TEST(ParseEntry, StringValues) {
  const EntryCase cases[] = {
      {u"\"Name\"=\"Value\"", 1, kEntryValue, u"Name", kRegSz,
       Bytes({'V', 0, 'a', 0, 'l', 0, 'u', 0, 'e', 0, 0, 0})},
      {u"\"Empty\"=\"\"", 1, kEntryValue, u"Empty", kRegSz, Bytes({0, 0})},
      {u"\"\"=\"x\"", 1, kEntryValue, u"", kRegSz, Bytes({'x', 0, 0, 0})},
      {u"\"a\"=\"x\"y\"", 1, kEntryValue, u"a", kRegSz, Bytes({'x', 0, '"', 0, 'y', 0, 0, 0})},
      {u"\"a\"= \"x\"y\"", 1, kEntryValue, u"a", kRegSz, Bytes({'x', 0, 0, 0})},
      {u"\"a\"=\"abc", 1, kEntryValue, u"a", kRegSz, Bytes({'a', 0, 'b', 0, 0, 0})},
      {u"\"p\"=\"\\\\W\"", 1, kEntryValue, u"p", kRegSz,
       Bytes({'\\', 0, '\\', 0, 'W', 0, 0, 0})},
      {u"\"a\"=\"", 1, kEntryValue, u"a", kRegSz, Bytes({0, 0})},  // lone opening quote
      {u"\"u\"=\"\u00e9\u20ac\"", 1, kEntryValue, u"u", kRegSz,
       Bytes({0xe9, 0x00, 0xac, 0x20, 0, 0})},
      {u"\"s\"=\"a;b\" x", 1, kEntryValue, u"s", kRegSz,
       Bytes({'a', 0, ';', 0, 'b', 0, '"', 0, ' ', 0, 0, 0})},
  };
  for (const EntryCase& c : cases) CheckEntry(c);
}

TEST(ParseEntry, NumberValues) {
  const EntryCase cases[] = {
      {u"\"a:b\"=dword:1", 1, kEntryValue, u"a:b", kRegDword, Bytes({1, 0, 0, 0})},
      {u"\"Count\"=dword:0000000a", 1, kEntryValue, u"Count", kRegDword, Bytes({0x0a, 0, 0, 0})},
      {u"\"Count\"= dword : 10", 1, kEntryValue, u"Count", kRegDword, Bytes({0x10, 0, 0, 0})},
      {u"\"Count\"=d:ff", 1, kEntryValue, u"Count", kRegDword, Bytes({0xff, 0, 0, 0})},
      {u"\"Count\"=dword:", 1, kEntryValue, u"Count", kRegDword, Bytes({0, 0, 0, 0})},
      {u"\"Big\"=dword:12345678", 1, kEntryValue, u"Big", kRegDword, Bytes({0x78, 0x56, 0x34, 0x12})},
      {u"\"a\"=:dword:1", 1, kEntryValue, u"a", kRegDword, Bytes({0x0d, 0, 0, 0})},
      {u"\"Bin\"=hex:01,02,ff", 1, kEntryValue, u"Bin", kRegBinary, Bytes({1, 2, 0xff})},
      {u"\"Bin\"=hex: 01, 02", 1, kEntryValue, u"Bin", kRegBinary, Bytes({1, 2})},
      {u"\"Bin\"=hex:01,zz,1ff", 1, kEntryValue, u"Bin", kRegBinary, Bytes({1, 0, 0xff})},
      {u"\"Bin\"=hex:,, 0a ,,", 1, kEntryValue, u"Bin", kRegBinary, Bytes({0x0a})},
      {u"\"Bin\"=hex:x 05", 1, kEntryValue, u"Bin", kRegBinary, Bytes({0, 5})},
      // Each word is read as HexToULong reads it: "0", "x" and controls lead, junk ends it.
      {u"\"Bin\"=hex:0x1f,x0a,\x1f" u"7,1\x02", 1, kEntryValue, u"Bin", kRegBinary,
       Bytes({0x1f, 0x0a, 7, 1})},
      {u"\"Bin\"=hex:", 1, kEntryValue, u"Bin", kRegBinary, ""},
      {u"\"Bin\"=h:7", 1, kEntryValue, u"Bin", kRegBinary, Bytes({7})},
      {u"\"List\"=hex(7):41,00,42,00,00", 1, kEntryValue, u"List", kRegMultiSz,
       Bytes({0x41, 0, 0, 0, 0x42, 0, 0, 0, 0, 0})},
      {u"\"List\"=hex(:1ff", 1, kEntryValue, u"List", kRegMultiSz, Bytes({0xff, 0})},
      {u"\"Exp\"=hex(2):25,00", 1, kEntryValue, u"Exp", kRegExpandSz, Bytes({0x25, 0, 0, 0})},
      {u"\"Exp\"=hex(2):", 1, kEntryValue, u"Exp", kRegExpandSz, ""},
  };
  for (const EntryCase& c : cases) CheckEntry(c);
}

TEST(ParseEntry, StringLists) {
  const std::string abcd = Bytes({'a', 0, 'b', 0, 0, 0, 'c', 0, 'd', 0, 0, 0, 0, 0});
  const EntryCase cases[] = {
      {u"\"List\"=multi_sz:\"ab\",\"cd\"", 1, kEntryValue, u"List", kRegMultiSz, abcd},
      {u"\"List\"=multi_sz:\"ab\", \"cd\"", 1, kEntryValue, u"List", kRegMultiSz, abcd},
      {u"\"List\"=m:\"ab\",\"cd\"", 1, kEntryValue, u"List", kRegMultiSz, abcd},
      {u"\"List\"=multi_sz: \"ab\"", 1, kEntryValue, u"List", kRegMultiSz,
       Bytes({'"', 0, 'a', 0, 'b', 0, 0, 0, 0, 0})},
      // Malformed lists stay inside the line.
      {u"\"List\"=multi_sz:", 1, kEntryValue, u"List", kRegMultiSz, Bytes({0, 0})},
      {u"\"List\"=multi_sz:\"ab\",", 1, kEntryValue, u"List", kRegMultiSz,
       Bytes({'a', 0, 'b', 0, 0, 0, 0, 0})},
      {u"\"List\"=multi_sz:\"ab\",\"", 1, kEntryValue, u"List", kRegMultiSz,
       Bytes({'a', 0, 'b', 0, 0, 0, 0, 0, 0, 0})},
      {u"\"List\"=multi_sz:,", 1, kEntryValue, u"List", kRegMultiSz, Bytes({0, 0, 0, 0})},
      {u"\"List\"=multi_sz:\"a,b\",\"c\"", 1, kEntryValue, u"List", kRegMultiSz,
       Bytes({0, 0, 0, 0, 'c', 0, 0, 0, 0, 0})},
  };
  for (const EntryCase& c : cases) CheckEntry(c);
}

TEST(ParseEntry, LinesThatGiveNoValue) {
  const EntryCase cases[] = {
      {u"\"a\"=dword 1", 0},
      {u"@=\"x\"", 0},
      {u"\"a\"", 0},
      {u"\"a", 0},
      {u"\"a\"=", 0},
      {u"\"a\"x=dword:1", 0},
      {u"\"a\"=dword;1", 0},
      {u"\"a\" =dword:1", 0},  // "=" not directly behind the name
      {u"\"a\"=DWORD:1", 0},   // type words are lower case
      {u"\"a\"=qword:1", 0},
      {u"\"a\"=dwordx:1", 0},
      {u"\"a\"=[x]", 0},
      {u"\"a\"==1", 0},
  };
  for (const EntryCase& c : cases) CheckEntry(c);
}

TEST(ParseEntry, OnlyABracketOrADoubleQuoteOpensAnEntry) {
  // A first token cut as a word (first delimiter ":") gives no entry, even
  // when the word begins with a double quote or a bracket.
  const EntryCase cases[] = {
      {u":\"=d:", 0},
      {u" :\"=\"hello\"", 0},
      {u"::\"=hex:01", 0},
      {u":\"a\"=dword:1", 0},
      {u" : \"a\"=dword:1", 0},
      {u":[HKEY_LOCAL_MACHINE\\X]", 0},
      {u"a:[K]", 0},
      {u"=\"a\"=dword:1", 0},
      // Lines that open with "[" or a double quote keep what they give.
      {u"x:y[K\\A]", 0},
      {u"  junk [K\\A] more", 1, kEntryKey, u"K\\A"},
      {u"\"a:b\"=dword:1", 1, kEntryValue, u"a:b", kRegDword, Bytes({1, 0, 0, 0})},
      {u"\"a\"=:dword:1", 1, kEntryValue, u"a", kRegDword, Bytes({0x0d, 0, 0, 0})},
  };
  for (const EntryCase& c : cases) CheckEntry(c);
}

TEST(ParseEntry, AZeroUnitEndsTheText) {
  const auto withZero = [](std::u16string before, std::u16string after) {
    return before + u'\0' + after;
  };
  const EntryCase cases[] = {
      {withZero(u"\"a\"=\"vw", u"x\" \"evil\"=\"1\""), 1, kEntryValue, u"a", kRegSz, Bytes({'v', 0, 0, 0})},
      {withZero(u"\"a\"=dword:1", u"2"), 1, kEntryValue, u"a", kRegDword, Bytes({1, 0, 0, 0})},
      {withZero(u"\"a\"=hex:01", u",02"), 1, kEntryValue, u"a", kRegBinary, Bytes({1})},
      {withZero(u"[K\\A", u"]"), 0},
      {withZero(u"\"a", u"\"=dword:1"), 0},
      {withZero(u"", u"\"a\"=dword:1"), 0},
  };
  for (const EntryCase& c : cases) CheckEntry(c);
}

TEST(ParseEntry, UnknownTypeDoesNotReuseEarlierData) {
  CLineEntry entry;
  ASSERT_EQ(CBrixparse::ParseEntry(entry, u"\"a\"=dword:5"), 1);
  EXPECT_EQ(CBrixparse::ParseEntry(entry, u"\"b\"=QWORD:1"), 0);
  // The record is reused: the next good line is complete on its own.
  ASSERT_EQ(CBrixparse::ParseEntry(entry, u"\"c\"=hex:"), 1);
  EXPECT_EQ(entry.valueName, u"c");
  EXPECT_EQ(entry.type, kRegBinary);
  EXPECT_EQ(entry.size, 0u);
}

TEST(ParseEntry, NameAndDataLimits) {
  const std::u16string name255(kMaxValueName, u'n');
  CheckEntry({u"\"" + name255 + u"\"=dword:1", 1, kEntryValue, name255, kRegDword,
              Bytes({1, 0, 0, 0})});
  CheckEntry({u"\"" + name255 + u"n\"=dword:1", 0});

  // A string of n characters takes (n + 1) x 2 bytes.
  const std::size_t longest = kMaxValueData / 2 - 1;
  CLineEntry entry;
  const std::u16string fits = u"\"s\"=\"" + std::u16string(longest, u'q') + u"\"";
  ASSERT_EQ(CBrixparse::ParseEntry(entry, fits), 1);
  EXPECT_EQ(entry.size, kMaxValueData);
  EXPECT_EQ(entry.data[kMaxValueData - 4], 'q');
  EXPECT_EQ(entry.data[kMaxValueData - 2], 0);
  const std::u16string tooLong = u"\"s\"=\"" + std::u16string(longest + 1, u'q') + u"\"";
  EXPECT_EQ(CBrixparse::ParseEntry(entry, tooLong), 0);

  std::u16string bytes = u"\"b\"=hex:";
  for (std::size_t i = 0; i <= kMaxValueData; ++i) bytes += u"7,";
  EXPECT_EQ(CBrixparse::ParseEntry(entry, bytes), 0);
}

TEST(ParseEntry, EveryListFormStopsAtTheLargestData) {
  const auto repeat = [](std::u16string_view unit, std::size_t n) {
    std::u16string out;
    for (std::size_t i = 0; i < n; ++i) out += unit;
    return out;
  };
  // Each form's line for the largest data and for a little more.
  const std::size_t units = kMaxValueData / 2;
  const struct {
    std::u16string fits, over;
  } cases[] = {
      {u"\"v\"=hex:" + repeat(u"7,", kMaxValueData), u"\"v\"=hex:" + repeat(u"7,", kMaxValueData + 1)},
      {u"\"v\"=hex(7):" + repeat(u"7 ", units), u"\"v\"=hex(7):" + repeat(u"7 ", units + 1)},
      {u"\"v\"=multi_sz:\"" + repeat(u"m", units - 2) + u"\"", u"\"v\"=multi_sz:\"" + repeat(u"m", units - 1) + u"\""},
      {u"\"v\"=multi_sz:\"a\"" + repeat(u",\"\"", units - 3),
       u"\"v\"=multi_sz:\"a\"" + repeat(u",\"\"", units - 2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fits.begin(), c.fits.begin() + 14));
    CLineEntry entry;
    ASSERT_EQ(CBrixparse::ParseEntry(entry, c.fits), 1);
    EXPECT_EQ(entry.size, kMaxValueData);
    EXPECT_EQ(entry.data.size(), kMaxValueData);
    EXPECT_EQ(CBrixparse::ParseEntry(entry, c.over), 0);
  }
}

}  // namespace

}  // namespace brixparse::test
