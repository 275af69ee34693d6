// The key list: shapes that scripts give, ownership of names and data, and
// lists long enough that recursive destruction would exhaust the stack.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/fake/fake.h"
#include "regimport/brixparse.h"
#include "tests/regimport/import_test_util.h"

namespace brixparse::test {

namespace {

using regtest::Bytes;
using regtest::KeySummary;
using regtest::ParseScript;
using regtest::ValueSummary;

const std::string kDword1 = Bytes({1, 0, 0, 0});
const std::string kDword2 = Bytes({2, 0, 0, 0});
const std::string kDword3 = Bytes({3, 0, 0, 0});

TEST(ParseFile, KeyListShapes) {
  struct Case {
    const char* name;
    std::string script;
    bool yieldsList;
    std::vector<KeySummary> keys;
  } cases[] = {
      {"empty script", "", false, {}},
      {"comments only", "; one\n   ; two\n\n", false, {}},
      {"key without values", "[HKEY_LOCAL_MACHINE\\A]\n", true, {{u"HKEY_LOCAL_MACHINE\\A", {}}}},
      {"keys with 2, 0 and 1 values",
       "[K\\A]\n\"a1\"=dword:1\n\"a2\"=dword:2\n[K\\B]\n[K\\C]\n\"c1\"=dword:3\n",
       true,
       {{u"K\\A", {{u"a1", kRegDword, kDword1}, {u"a2", kRegDword, kDword2}}},
        {u"K\\B", {}},
        {u"K\\C", {{u"c1", kRegDword, kDword3}}}}},
      {"duplicates kept in order",
       "[K\\A]\n\"v\"=dword:1\n\"v\"=dword:2\n[K\\A]\n\"v\"=dword:3\n",
       true,
       {{u"K\\A", {{u"v", kRegDword, kDword1}, {u"v", kRegDword, kDword2}}},
        {u"K\\A", {{u"v", kRegDword, kDword3}}}}},
      {"value before the first key is not stored",
       "\"early\"=dword:1\n[K\\A]\n\"v\"=dword:2\n", true,
       {{u"K\\A", {{u"v", kRegDword, kDword2}}}}},
      // A line meant as a key line that gives no key: its values are not stored,
      // neither under the key before it nor anywhere else, until the next key line.
      {"values after a key line without closing bracket are not stored",
       "[K\\A]\n[K\\B\n\"v\"=dword:1\n[K\\C]\n\"w\"=dword:2\n", true,
       {{u"K\\A", {}}, {u"K\\C", {{u"w", kRegDword, kDword2}}}}},
      {"a comment that cuts a key line's bracket off, blanks in front",
       "[K\\A]\n\"a\"=dword:1\n \t[HKEY_LOCAL_MACHINE\\Software\\A;B]\n\"v\"=dword:2\n", true,
       {{u"K\\A", {{u"a", kRegDword, kDword1}}}}},
      {"a key line whose bracket stands behind a zero unit",
       std::string("[K\\A]\n[K\\B") + '\0' + "]\n\"v\"=dword:1\n", true, {{u"K\\A", {}}}},
      {"a line giving no entry that is no key line keeps the current key",
       "[K\\A]\n:[K\\B]\n\"bad\" =dword:2\n\"v\"=dword:1\n", true,
       {{u"K\\A", {{u"v", kRegDword, kDword1}}}}},
      {"unknown type word is not stored",
       "[K\\A]\n\"a\"=dword:1\n\"b\"=DWORD:2\n\"c\"=x:3\n", true,
       {{u"K\\A", {{u"a", kRegDword, kDword1}}}}},
      {"empty byte list has no data", "[K\\A]\n\"b\"=hex:\n", true,
       {{u"K\\A", {{u"b", kRegBinary, ""}}}}},
      {"comments and continuations",
       "; header\n[K\\A] ; key\n\"b\"=hex:01,\\\n  02\n\"s\"=\"x;y\" ; c\n", true,
       {{u"K\\A", {{u"b", kRegBinary, Bytes({1, 2})}, {u"s", kRegSz, Bytes({'x', 0, ';', 0, 'y', 0, 0, 0})}}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const regtest::ParseOutcome got = ParseScript(c.script);
    EXPECT_EQ(got.yieldedList, c.yieldsList);
    EXPECT_EQ(got.keys, c.keys);
  }
}

TEST(ParseFile, OverLongLinesGiveNoEntry) {
  const std::string over(kMaxLineUnits, 's');
  struct Case {
    const char* name;
    std::string script;
    std::vector<KeySummary> keys;
  } cases[] = {
      {"an over-long value line, then a value",
       "[K\\A]\n\"big\"=\"" + over + "\"\n\"v\"=dword:1\n", {{u"K\\A", {{u"v", kRegDword, kDword1}}}}},
      {"an over-long key line stops values until the next key line",
       "[K\\A]\n [" + over + "]\n\"v\"=dword:1\n[K\\B]\n\"w\"=dword:2\n",
       {{u"K\\A", {}}, {u"K\\B", {{u"w", kRegDword, kDword2}}}}},
      {"an over-long line that is no key line keeps the current key",
       "[K\\A]\n" + over + "[K\\B]\n\"v\"=dword:1\n", {{u"K\\A", {{u"v", kRegDword, kDword1}}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseScript(c.script).keys, c.keys);
  }
}

TEST(ParseFile, LargestValueFitsTheLineLimit) {
  // The largest value data as a byte list written "xx," over indented
  // continuation lines, 25 bytes a line, is one logical line that is kept.
  std::string script = "[K\\A]\n\"b\"=hex:";
  std::string bytes;
  for (std::size_t i = 0; i < kMaxValueData; ++i) {
    static const char kDigits[] = "0123456789abcdef";
    const auto byte = static_cast<unsigned char>(i * 7);
    script += {kDigits[byte >> 4], kDigits[byte & 15]};
    bytes.push_back(static_cast<char>(byte));
    if (i + 1 < kMaxValueData) script += i % 25 == 24 ? ",\\\n  " : ",";
  }
  script += "\n";
  const regtest::ParseOutcome got = ParseScript(script);
  ASSERT_EQ(got.keys.size(), 1u);
  ASSERT_EQ(got.keys[0].values.size(), 1u);
  EXPECT_EQ(got.keys[0].values[0].data, bytes);
}

TEST(ParseFile, EmptyValueHasNoDataBlock) {
  plat::fake::Reset();
  plat::fake::AddFile(regtest::kScriptPath, "[K\\A]\n\"b\"=hex:\n");
  CScriptFile script;
  script.Open(regtest::kScriptPath);
  CBrixparse parser(script);
  CKeyNode* first = parser.ParseFile();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(first->values, nullptr);
  EXPECT_EQ(first->values->data, nullptr);
  EXPECT_EQ(first->values->size, 0u);
}

TEST(ParseFile, UnopenedScriptGivesNoList) {
  plat::fake::Reset();
  CScriptFile script;
  script.Open(u"\\missing.reg");
  CBrixparse parser(script);
  EXPECT_EQ(parser.ParseFile(), nullptr);
  EXPECT_EQ(parser.keys, nullptr);
}

// The keys built before a read error are released before the report, which
// after running out of memory needs some of what they held.
TEST(ParseFile, ReadErrorYieldsNoListAndReleasesWhatWasBuilt) {
  std::string script;
  for (int i = 0; i < 2000; ++i) script += "[HKEY_LOCAL_MACHINE\\K" + std::to_string(i) + "]\n\"v\"=dword:1\n";
  plat::fake::Reset();
  plat::fake::AddFile(regtest::kScriptPath, script);
  plat::fake::InjectFailure({"StreamReadLine", plat::kErrorAccessDenied, 1000, {}});
  CScriptFile file;
  file.Open(regtest::kScriptPath);
  CBrixparse parser(file);
  EXPECT_EQ(parser.ParseFile(), nullptr);
  EXPECT_EQ(parser.keys, nullptr);
  EXPECT_NE(plat::fake::DebugTextUtf8().find("cannot read script"), std::string::npos);
}

TEST(KeyNodes, ConstructorsCopyTheirInput) {
  std::u16string name = u"name";
  std::string bytes = "abcd";
  CValueNode value(name.c_str(), kRegBinary, bytes.data(), 3);
  name[0] = u'X';
  bytes[0] = 'X';
  EXPECT_EQ(value.name, u"name");
  ASSERT_NE(value.data, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(value.data.get()), value.size), "abc");

  CValueNode empty(u"", kRegSz, bytes.data(), 0);
  EXPECT_EQ(empty.data, nullptr);
  EXPECT_EQ(empty.size, 0u);
}

TEST(KeyNodes, AppendValueKeepsOrder) {
  CKeyNode key(u"K\\A");
  constexpr int kCount = 1000;
  for (int i = 0; i < kCount; ++i) {
    const std::u16string name = regtest::Widen(std::to_string(i));
    key.AppendValue(std::make_unique<CValueNode>(name.c_str(), kRegDword, &i, 4));
  }
  int expected = 0;
  for (const CValueNode* v = key.values.get(); v != nullptr; v = v->next.get(), ++expected)
    ASSERT_EQ(v->name, regtest::Widen(std::to_string(expected)));
  EXPECT_EQ(expected, kCount);
}

TEST(KeyNodes, AppendAfterValuesLinkedByHand) {
  CKeyNode key(u"K\\A");
  key.values = std::make_unique<CValueNode>(u"a", kRegSz, nullptr, 0);
  key.values->next = std::make_unique<CValueNode>(u"b", kRegSz, nullptr, 0);
  key.AppendValue(std::make_unique<CValueNode>(u"c", kRegSz, nullptr, 0));
  const auto keys = regtest::Summarise(&key);
  ASSERT_EQ(keys.size(), 1u);
  ASSERT_EQ(keys[0].values.size(), 3u);
  EXPECT_EQ(keys[0].values[2].name, u"c");
}

TEST(KeyNodes, MillionNodeListsAreDestroyedWithoutRecursion) {
  constexpr int kCount = 1000000;
  {
    auto head = std::make_unique<CKeyNode>(u"K\\0");
    CKeyNode* last = head.get();
    for (int i = 1; i < kCount; ++i) {
      last->next = std::make_unique<CKeyNode>(u"K\\x");
      last = last->next.get();
    }
    head->AppendValue(std::make_unique<CValueNode>(u"v", kRegDword, &kCount, 4));
  }
  {
    CKeyNode key(u"K\\A");
    for (int i = 0; i < kCount; ++i)
      key.AppendValue(std::make_unique<CValueNode>(u"v", kRegDword, &i, 4));
  }
  {
    // The parser object owns its list and frees it when it goes.
    CScriptFile script;
    CBrixparse parser(script);
    parser.keys = std::make_unique<CKeyNode>(u"K\\0");
    CKeyNode* last = parser.keys.get();
    for (int i = 1; i < kCount; ++i) {
      last->next = std::make_unique<CKeyNode>(u"K\\x");
      last = last->next.get();
    }
  }
  SUCCEED();
}

}  // namespace

}  // namespace brixparse::test
