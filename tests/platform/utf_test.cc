// UTF-16 and UTF-8 conversions: pairs, lone surrogates and malformed bytes under
// each of the strict, lenient and keeping rules.
#include "platform/utf.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using plat::utf::ToUtf16;
using plat::utf::ToUtf16Keeping;
using plat::utf::ToUtf16Lenient;
using plat::utf::ToUtf8;
using plat::utf::ToUtf8Keeping;
using plat::utf::ToUtf8Lenient;

TEST(Utf, FromUtf16) {
  struct Case {
    const char* what;
    std::u16string text;
    bool strictOk;
    std::string lenient;
    std::string keeping;
  };
  const Case cases[] = {
      {"empty", u"", true, "", ""},
      {"ascii and Latin-1", u"a\u00E9", true, "a\xC3\xA9", "a\xC3\xA9"},
      {"three bytes", u"\u20AC", true, "\xE2\x82\xAC", "\xE2\x82\xAC"},
      {"a pair", u"\U0001F600", true, "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"the last code point", u"\U0010FFFF", true, "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"lone high", u"a\xD800", false, "a\xEF\xBF\xBD", "a\xED\xA0\x80"},
      {"lone low", u"\xDC00z", false, "\xEF\xBF\xBDz", "\xED\xB0\x80z"},
      {"low before high", u"\xDC00\xD800", false, "\xEF\xBF\xBD\xEF\xBF\xBD", "\xED\xB0\x80\xED\xA0\x80"},
      {"high, high, low", u"\xD800\xD800\xDC00", false, "\xEF\xBF\xBD\xF0\x90\x80\x80",
       "\xED\xA0\x80\xF0\x90\x80\x80"},
  };
  for (const Case& c : cases) {
    std::string strict = "unchanged";
    EXPECT_EQ(ToUtf8(c.text, &strict), c.strictOk) << c.what;
    if (c.strictOk) {
      EXPECT_EQ(strict, c.lenient) << c.what;
    }
    EXPECT_EQ(ToUtf8Lenient(c.text), c.lenient) << c.what;
    EXPECT_EQ(ToUtf8Keeping(c.text), c.keeping) << c.what;
    EXPECT_EQ(ToUtf16Keeping(c.keeping), c.text) << c.what << ": keeping gives every unit back";
    EXPECT_EQ(plat::utf::IsWellFormed(c.text), c.strictOk) << c.what;
  }
}

TEST(Utf, FromUtf8) {
  struct Case {
    const char* what;
    std::string bytes;
    bool strictOk;
    std::u16string lenient;
    std::u16string keeping;
  };
  const Case cases[] = {
      {"text", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true, u"a\u00E9\u20AC\U0001F600", u"a\u00E9\u20AC\U0001F600"},
      {"an encoded surrogate", "\xED\xA0\x80", false, u"\uFFFD\uFFFD\uFFFD", u"\xD800"},
      {"an overlong slash", "\xC0\xAF", false, u"\uFFFD\uFFFD", u"\uFFFD\uFFFD"},
      {"an overlong of three bytes", "\xE0\x80\xAF", false, u"\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", false, u"\uFFFD\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"a cut sequence before text", "\xE2\x82z", false, u"\uFFFD\uFFFDz", u"\uFFFD\uFFFDz"},
      {"a cut sequence at the end", "z\xF0\x9F\x98", false, u"z\uFFFD\uFFFD\uFFFD", u"z\uFFFD\uFFFD\uFFFD"},
      {"a stray continuation byte", "\x80" "a", false, u"\uFFFD" "a", u"\uFFFD" "a"},
      {"a Windows-1252 byte", "caf\xE9", false, u"caf\uFFFD", u"caf\uFFFD"},
  };
  for (const Case& c : cases) {
    std::u16string strict;
    EXPECT_EQ(ToUtf16(c.bytes, &strict), c.strictOk) << c.what;
    if (c.strictOk) {
      EXPECT_EQ(strict, c.lenient) << c.what;
    }
    EXPECT_EQ(ToUtf16Lenient(c.bytes), c.lenient) << c.what;
    EXPECT_EQ(ToUtf16Keeping(c.bytes), c.keeping) << c.what;
  }
}

// A host name that is no UTF-8 keeps every byte, each stray one as U+DC80..U+DCFF.
TEST(Utf, EscapedKeepsStrayBytesAsLoneSurrogates) {
  EXPECT_EQ(plat::utf::ToUtf16Escaped("caf\xE9.txt"), u"caf\xDCE9.txt");
  EXPECT_EQ(plat::utf::ToUtf16Escaped("\xED\xA0\x80"), u"\xDCED\xDCA0\xDC80");
  EXPECT_EQ(plat::utf::ToUtf16Escaped("\xC3\xA9\xF0\x9F\x98\x80"), u"\u00E9\U0001F600");
}

TEST(Utf, PairsAreOneCodePoint) {
  const std::u16string text = u"x\U0001F600\xDC00";
  std::size_t i = 0;
  EXPECT_EQ(plat::utf::NextCodePoint(text, &i), U'x');
  EXPECT_EQ(plat::utf::NextCodePoint(text, &i), U'\U0001F600');
  EXPECT_EQ(i, 3u);
  EXPECT_EQ(plat::utf::NextCodePoint(text, &i), char32_t{0xDC00});
  std::u16string built;
  for (const char32_t c : {U'\U00010000', U'\U0010FFFF', U'\uFFFF'}) plat::utf::AppendUtf16(c, &built);
  EXPECT_EQ(built, u"\U00010000\U0010FFFF\uFFFF");
}

}  // namespace
