// The export format: every value form, the comment lines for values the
// importer cannot write, key order and the guard against lines that the
// importer's reader would change.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brixdev/registry/dialect_writer.h"
#include "platform/posix/regstore/store.h"

namespace {

using namespace std::literals;
using regstore::Key;
using regstore::Value;

// UTF-16LE bytes of text, terminator included when asked.
std::string Wide(std::u16string_view text, bool terminated = true) {
  std::string out;
  for (char16_t u : text) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  if (terminated) out += std::string(2, '\0');
  return out;
}

std::string Bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out += static_cast<char>(b);
  return out;
}

TEST(RegistryExportFormat, ValueLines) {
  struct Case {
    const char* what;
    Value value;
    std::string line;
  };
  const Case cases[] = {
      {"string", {u"Name", 1, Wide(u"Value")}, "\"Name\"=\"Value\""},
      {"empty string", {u"Empty", 1, Wide(u"")}, "\"Empty\"=\"\""},
      {"default value", {u"", 1, Wide(u"x")}, "\"\"=\"x\""},
      {"string kept as written", {u"p", 1, Wide(u"\\Windows\\a;b \"q\"")}, "\"p\"=\"\\Windows\\a;b \"q\"\""},
      {"string in UTF-8", {u"Gr\u00FC\u00DFe", 1, Wide(u"\u20AC \U0001F600")},
       "\"Gr\xC3\xBC\xC3\x9F" "e\"=\"\xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"name with delimiters", {u"a:b;c=[", 4, Bytes({1, 0, 0, 0})}, "\"a:b;c=[\"=dword:00000001"},
      {"dword", {u"Count", 4, Bytes({0x0a, 0, 0, 0})}, "\"Count\"=dword:0000000a"},
      {"dword little-endian", {u"d", 4, Bytes({0x78, 0x56, 0x34, 0x12})}, "\"d\"=dword:12345678"},
      {"dword all ones", {u"d", 4, Bytes({0xff, 0xff, 0xff, 0xff})}, "\"d\"=dword:ffffffff"},
      {"binary", {u"Bin", 3, Bytes({0x01, 0x02, 0xff, 0x00, 0xab})}, "\"Bin\"=hex:01,02,ff,00,ab"},
      {"empty binary", {u"Bin", 3, ""}, "\"Bin\"=hex:"},
      {"multi string", {u"List", 7, Wide(u"ab\0cd\0"sv)}, "\"List\"=hex(7):61,62,00,63,64,00,00"},
      {"expandable string", {u"Exp", 2, Bytes({0x25, 0, 0xff, 0})}, "\"Exp\"=hex(2):25,ff"},
      {"empty list", {u"L", 7, ""}, "\"L\"=hex(7):"},
      // What the importer cannot have written is shown as a comment with its raw bytes.
      {"other type", {u"n", 11, Bytes({1, 2})}, "; \"n\" type 11: 01,02"},
      {"type 0 without data", {u"n", 0, ""}, "; \"n\" type 0:"},
      {"string without terminator", {u"s", 1, Wide(u"ab", false)}, "; \"s\" type 1: 61,00,62,00"},
      {"string of odd length", {u"s", 1, Bytes({0x61, 0, 0})}, "; \"s\" type 1: 61,00,00"},
      {"string with units past its end", {u"s", 1, Wide(u"a\0b"sv)}, "; \"s\" type 1: 61,00,00,00,62,00,00,00"},
      {"string with a line feed", {u"s", 1, Wide(u"a\nb")}, "; \"s\" type 1: 61,00,0a,00,62,00,00,00"},
      {"string without data", {u"s", 1, ""}, "; \"s\" type 1:"},
      {"string with a lone surrogate", {u"s", 1, Wide(u"\xD800")}, "; \"s\" type 1: 00,d8,00,00"},
      {"dword of three bytes", {u"d", 4, Bytes({1, 2, 3})}, "; \"d\" type 4: 01,02,03"},
      {"list unit above ff", {u"L", 7, Bytes({0x00, 0x01})}, "; \"L\" type 7: 00,01"},
      {"list of odd length", {u"L", 2, Bytes({0x25})}, "; \"L\" type 2: 25"},
      {"name with a double quote", {u"a\"b", 4, Bytes({1, 0, 0, 0})}, "; \"a\"b\" type 4: 01,00,00,00"},
      {"name with a line feed and semicolon", {u"a\nb;c", 3, Bytes({1})}, "; \"a\\u000ab\\u003bc\" type 3: 01"},
      {"name of 256 characters", {std::u16string(256, u'n'), 3, Bytes({1})},
       "; \"" + std::string(256, 'n') + "\" type 3: 01"},
  };
  for (const Case& c : cases) EXPECT_EQ(brixdev::FormatValue(c.value), c.line) << c.what;
  EXPECT_EQ(brixdev::FormatValue({std::u16string(255, u'n'), 3, ""}), "\"" + std::string(255, 'n') + "\"=hex:");
}

// Comment lines must never become entries nor join the line after them.
TEST(RegistryExportFormat, CommentLinesHoldOnlyTheirLeadingSemicolon) {
  const Value odd[] = {{u"x;\\", 9, ""}, {u"\\;", 9, Bytes({1})}, {u";;\"", 1, ""}, {u"\xDC00", 5, ""}};
  for (const Value& value : odd) {
    const std::string line = brixdev::FormatValue(value);
    ASSERT_EQ(line.rfind("; ", 0), 0u) << line;
    EXPECT_EQ(line.find(';', 1), std::string::npos) << line;
    EXPECT_NE(line.back(), '\\') << line;
  }
}

TEST(RegistryExportFormat, ReaderLineRules) {
  struct Case {
    std::u16string line;
    bool readsBack;
  };
  const Case cases[] = {
      {u"[HKEY_LOCAL_MACHINE\\A]", true},
      {u"[HKEY_LOCAL_MACHINE\\a;b]", false},        // the reader cuts a comment at the ";"
      {u"[HKEY_LOCAL_MACHINE\\a;b\"]", true},       // a double quote behind the ";" keeps it
      {u"\"a;b\"=dword:00000001", true},
      {u"\"x\"=\"a\\\"", true},
      {u"[HKEY_LOCAL_MACHINE\\a]\\", false},       // a final backslash joins the next line
      {u"[HKEY_LOCAL_MACHINE\\a] ", false},        // trailing blanks are trimmed
      {u"[HKEY_LOCAL_MACHINE\\a]\t", false},
      {u"[HKEY_LOCAL_MACHINE\\a\nb]", false},
      {u"[HKEY_LOCAL_MACHINE\\a\rb]", true},       // a lone carriage return is text
      {u"[HKEY_LOCAL_MACHINE\\\xD800]", false},
  };
  for (const Case& c : cases) EXPECT_EQ(brixdev::ReadsBack(c.line), c.readsBack) << c.line.size();
}

TEST(RegistryExportFormat, EmptyRegistryIsTheHeaderAlone) {
  EXPECT_EQ(brixdev::FormatExport({}), "REGEDIT4\n\n");
  // Roots without values print nothing.
  EXPECT_EQ(brixdev::FormatExport({Key{regstore::kRootLocalMachine, {}, {}}, Key{regstore::kRootClasses, {}, {}}}),
            "REGEDIT4\n\n");
}

TEST(RegistryExportFormat, KeysInTreeOrderValuesByNameAnyCase) {
  const Value dword{u"d", 4, Bytes({1, 0, 0, 0})};
  std::vector<Key> keys = {
      {regstore::kRootLocalMachine, {u"b"}, {}},
      {regstore::kRootLocalMachine, {u"A-B"}, {}},
      {regstore::kRootLocalMachine, {u"A", u"c"}, {{u"zeta", 4, Bytes({2, 0, 0, 0})}, {u"Alpha", 3, ""}, {u"beta", 3, ""}}},
      {regstore::kRootLocalMachine, {u"a"}, {}},
      {regstore::kRootLocalMachine, {}, {}},
      {regstore::kRootCurrentUser, {u"X"}, {dword}},
      {regstore::kRootClasses, {}, {dword}},
      {regstore::kRootLocalMachine, {u"A", u"B"}, {}},
  };
  EXPECT_EQ(brixdev::FormatExport(keys),
            "REGEDIT4\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\]\n"
            "\"d\"=dword:00000001\n"
            "\n"
            "[HKEY_CURRENT_USER\\X]\n"
            "\"d\"=dword:00000001\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\a]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\A\\B]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\A\\c]\n"
            "\"Alpha\"=hex:\n"
            "\"beta\"=hex:\n"
            "\"zeta\"=dword:00000002\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\A-B]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\b]\n"
            "\n");
}

TEST(RegistryExportFormat, KeysTheImporterCannotNameBecomeCommentBlocks) {
  const Value value{u"v", 4, Bytes({1, 0, 0, 0})};
  const std::vector<Key> keys = {
      {regstore::kRootLocalMachine, {u"a]b"}, {value}},
      {regstore::kRootLocalMachine, {u"c;d"}, {value}},
      {regstore::kRootLocalMachine, {u"e;f\""}, {value}},
  };
  EXPECT_EQ(brixdev::FormatExport(keys),
            "REGEDIT4\n"
            "\n"
            "; [HKEY_LOCAL_MACHINE\\a]b]\n"
            "; \"v\" type 4: 01,00,00,00\n"
            "\n"
            "; [HKEY_LOCAL_MACHINE\\c\\u003bd]\n"
            "; \"v\" type 4: 01,00,00,00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\e;f\"]\n"
            "\"v\"=dword:00000001\n"
            "\n");
}

// Lists with characters beyond U+00FF, which the importer stores from its
// multi_sz form, are written in that form, never lost as comments.
TEST(RegistryExportFormat, WideListsAsMultiSz) {
  struct Case {
    const char* what;
    std::string data;
    std::string line;
  };
  const Case cases[] = {
      {"two texts", Wide(u"\u20AC\0x\0"sv), "\"L\"=multi_sz:\"\xE2\x82\xAC\",\"x\""},
      {"an empty text among them", Wide(u"\u20AC\0\0"sv), "\"L\"=multi_sz:\"\xE2\x82\xAC\",\"\""},
      {"quotes and semicolons kept", Wide(u"a\"\u4E2D;\0"sv), "\"L\"=multi_sz:\"a\"\xE4\xB8\xAD;\""},
      {"a comma in a text", Wide(u"\u20AC,x\0"sv), "; \"L\" type 7: ac,20,2c,00,78,00,00,00,00,00"},
      {"no closing terminator", Wide(u"\u20AC"sv), "; \"L\" type 7: ac,20,00,00"},
  };
  for (const Case& c : cases) EXPECT_EQ(brixdev::FormatValue({u"L", 7, c.data}), c.line) << c.what;
}

TEST(RegistryExportFormat, NumberListsWrapOnlyWhenAsked) {
  std::vector<std::u16string> lines;
  ASSERT_EQ(brixdev::WriteValue(u"b", 3, std::string(27, '\x01'), 25, &lines), brixdev::Unwritable::kNone);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], u"  01,01");
  EXPECT_EQ(lines[0].substr(lines[0].size() - 4), u"01,\\");
  ASSERT_EQ(brixdev::WriteValue(u"b", 3, std::string(27, '\x01'), 0, &lines), brixdev::Unwritable::kNone);
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_EQ(brixdev::WriteValue(u"s", 1, Wide(u"a\nb"), 0, &lines), brixdev::Unwritable::kLineBreak);
  EXPECT_TRUE(lines.empty());
}

}  // namespace
