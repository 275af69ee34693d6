// Writing the key list into the registry, and the whole program on the fake:
// roots, byte counts, failures, messages and long values.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/fake.h"
#include "regimport/brixparse.h"
#include "tests/regimport/import_test_util.h"

namespace brixparse::test {

namespace {

using regtest::Bytes;
using regtest::ImportScript;
using regtest::Utf16Bytes;

std::optional<plat::fake::RegValue> Value(const std::u16string& key, const std::u16string& name) {
  return plat::fake::GetRegValue(key, name);
}

TEST(UpdateRegistry, RootsAndSubkeys) {
  struct Case {
    const char* keyLine;
    std::optional<std::u16string> written;  // key created and holding the value; nullopt: none
    std::u16string debug;
  } cases[] = {
      {"[HKEY_LOCAL_MACHINE\\Software\\A\\B]", u"HKEY_LOCAL_MACHINE\\Software\\A\\B", u""},
      {"[HKEY_CLASSES_ROOT\\Ext]", u"HKEY_CLASSES_ROOT\\Ext", u""},
      {"[HKEY_CURRENT_USER\\Prefs]", u"HKEY_CURRENT_USER\\Prefs", u""},
      {"[HKEY_LOCAL_MACHINE\\]", u"HKEY_LOCAL_MACHINE", u""},  // empty subkey: the root itself
      {"[HKEY_LOCAL_MACHINE]", std::nullopt, u""},
      {"[]", std::nullopt, u""},
      {"[hkey_local_machine\\X]", std::nullopt,
       u"CBrixparse::UpdateRegistry::unknown root key = hkey_local_machine\r\n"},
      {"[-HKEY_LOCAL_MACHINE\\X]", std::nullopt,
       u"CBrixparse::UpdateRegistry::unknown root key = -HKEY_LOCAL_MACHINE\r\n"},
      {"[HKEY_USERS\\X]", std::nullopt,
       u"CBrixparse::UpdateRegistry::unknown root key = HKEY_USERS\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keyLine);
    EXPECT_EQ(ImportScript(std::string(c.keyLine) + "\n\"v\"=dword:7\n"), 0);
    const auto creates = plat::fake::CallsOf("RegKeyCreate");
    EXPECT_EQ(plat::fake::DebugText(), c.debug);
    if (!c.written) {
      EXPECT_TRUE(creates.empty());
      EXPECT_TRUE(plat::fake::CallsOf("RegValueSet").empty());
      continue;
    }
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(creates[0].text, *c.written);
    const auto value = Value(*c.written, u"v");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, kRegDword);
    EXPECT_EQ(value->data, Bytes({7, 0, 0, 0}));
  }
}

TEST(UpdateRegistry, EveryValueFormIsWrittenByteForByte) {
  const std::string script =
      "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n"
      "\"Name\"=\"abc\"\n"
      "\"Lone\"=\"\n"
      "\"Count\"=dword:0000000a\n"
      "\"Bin\"=hex:01,02,ff\n"
      "\"None\"=hex:\n"
      "\"List\"=hex(7):41,00,00\n"
      "\"Strs\"=multi_sz:\"ab\",\"c\"\n"
      "\"Exp\"=hex(2):25,00\n"
      "\"\"=\"default\"\n";
  ASSERT_EQ(ImportScript(script), 0);
  struct Expect {
    std::u16string name;
    std::uint32_t type;
    std::string data;
  } expects[] = {
      {u"Name", kRegSz, Bytes({'a', 0, 'b', 0, 'c', 0, 0, 0})},
      {u"Lone", kRegSz, Bytes({0, 0})},
      {u"Count", kRegDword, Bytes({0x0a, 0, 0, 0})},
      {u"Bin", kRegBinary, Bytes({1, 2, 0xff})},
      {u"None", kRegBinary, ""},
      {u"List", kRegMultiSz, Bytes({0x41, 0, 0, 0, 0, 0})},
      {u"Strs", kRegMultiSz, Bytes({'a', 0, 'b', 0, 0, 0, 'c', 0, 0, 0, 0, 0})},
      {u"Exp", kRegExpandSz, Bytes({0x25, 0, 0, 0})},
      {u"", kRegSz, Bytes({'d', 0, 'e', 0, 'f', 0, 'a', 0, 'u', 0, 'l', 0, 't', 0, 0, 0})},
  };
  const auto sets = plat::fake::CallsOf("RegValueSet");
  ASSERT_EQ(sets.size(), std::size(expects));
  for (std::size_t i = 0; i < std::size(expects); ++i) {
    const Expect& e = expects[i];
    SCOPED_TRACE(std::string(e.name.begin(), e.name.end()));
    EXPECT_EQ(sets[i].text2, e.name);  // written in script order
    const auto value = Value(u"HKEY_LOCAL_MACHINE\\Software\\Vendor", e.name);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, e.type);
    EXPECT_EQ(value->data, e.data);
  }
  EXPECT_EQ(plat::fake::DebugText(), u"");
}

TEST(UpdateRegistry, StringByteCountIsMeasuredFromTheStoredData) {
  struct Case {
    const char* name;
    std::string stored;  // the node's data block
    std::string written;
  } cases[] = {
      {"terminated", Bytes({'a', 0, 'b', 0, 'c', 0, 0, 0}), Bytes({'a', 0, 'b', 0, 'c', 0, 0, 0})},
      {"terminator early in the block", Bytes({'a', 0, 0, 0, 'z', 0, 0, 0}), Bytes({'a', 0, 0, 0})},
      {"no terminator", Bytes({'a', 0, 'b', 0}), Bytes({'a', 0, 'b', 0})},
      {"odd size without terminator", Bytes({'a', 0, 'b'}), Bytes({'a', 0, 'b'})},
      {"no data", "", Bytes({0, 0})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plat::fake::Reset();
    CScriptFile script;
    CBrixparse parser(script);
    auto key = std::make_unique<CKeyNode>(u"HKEY_LOCAL_MACHINE\\S");
    key->AppendValue(std::make_unique<CValueNode>(u"s", kRegSz, c.stored.data(),
                                                  static_cast<std::uint32_t>(c.stored.size())));
    EXPECT_EQ(parser.UpdateRegistry(key.get()), 1);
    const auto sets = plat::fake::CallsOf("RegValueSet");
    ASSERT_EQ(sets.size(), 1u);
    const auto value = Value(u"HKEY_LOCAL_MACHINE\\S", u"s");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->data, c.written);
  }
}

TEST(UpdateRegistry, FailedCreateIsReportedAndTheNextKeyWritten) {
  plat::fake::Reset();
  plat::fake::AddFile(regtest::kScriptPath,
                      "[HKEY_LOCAL_MACHINE\\Bad]\n\"x\"=dword:1\n"
                      "[HKEY_LOCAL_MACHINE\\Good]\n\"y\"=dword:2\n");
  plat::fake::InjectFailure({"RegKeyCreate", plat::kErrorAccessDenied, 1, {}});
  EXPECT_EQ(plat::AppMain(nullptr, regtest::kScriptPath), 0);
  EXPECT_EQ(plat::fake::DebugText(), u"CBrixparse::UpdateRegistry::RegCreateKeyEx err = 5\r\n");
  EXPECT_FALSE(Value(u"HKEY_LOCAL_MACHINE\\Bad", u"x").has_value());
  const auto sets = plat::fake::CallsOf("RegValueSet");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].text2, u"y");
  ASSERT_TRUE(Value(u"HKEY_LOCAL_MACHINE\\Good", u"y").has_value());
  EXPECT_EQ(plat::fake::CallsOf("RegKeyClose").size(), 1u);
}

// A value that cannot be set, or a key whose close fails, is reported with
// the call's result; everything else is written as usual, and the run still ends with 0.
TEST(UpdateRegistry, ValuesAndClosesThatFailAreReportedWithTheirResult) {
  const std::string script =
      "[HKEY_LOCAL_MACHINE\\A]\n\"a1\"=dword:1\n\"a2\"=\"\n\"a3\"=hex:03\n"
      "[HKEY_LOCAL_MACHINE\\B]\n\"b1\"=dword:4\n";
  const struct {
    const char* what;
    plat::fake::Failure failure;
    std::u16string debug;
    std::vector<std::u16string> stored;  // "key\\value" of the values that reach the registry
  } cases[] = {
      {"second value of A", {"RegValueSet", 112, 2, {}},
       u"CBrixparse::UpdateRegistry::RegSetValueEx err = 112\r\n", {u"A\\a1", u"A\\a3", u"B\\b1"}},
      {"every value of A", {"RegValueSet", 5, 0, u"HKEY_LOCAL_MACHINE\\A"},
       u"CBrixparse::UpdateRegistry::RegSetValueEx err = 5\r\n"
       u"CBrixparse::UpdateRegistry::RegSetValueEx err = 5\r\n"
       u"CBrixparse::UpdateRegistry::RegSetValueEx err = 5\r\n",
       {u"B\\b1"}},
      {"close of A", {"RegKeyClose", 1016, 1, {}},
       u"CBrixparse::UpdateRegistry::RegCloseKey err = 1016\r\n", {u"A\\a1", u"A\\a2", u"A\\a3", u"B\\b1"}},
      {"close of B", {"RegKeyClose", 112, 2, {}},
       u"CBrixparse::UpdateRegistry::RegCloseKey err = 112\r\n", {u"A\\a1", u"A\\a2", u"A\\a3", u"B\\b1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    plat::fake::Reset();
    plat::fake::AddFile(regtest::kScriptPath, script);
    plat::fake::InjectFailure(c.failure);
    EXPECT_EQ(plat::AppMain(nullptr, regtest::kScriptPath), 0);
    EXPECT_EQ(plat::fake::DebugText(), c.debug);
    std::vector<std::u16string> stored;
    for (const char16_t* entry : {u"A\\a1", u"A\\a2", u"A\\a3", u"B\\b1"}) {
      const std::u16string text(entry);
      if (Value(u"HKEY_LOCAL_MACHINE\\" + text.substr(0, 1), text.substr(2)).has_value()) stored.push_back(text);
    }
    EXPECT_EQ(stored, c.stored);
    // Both keys are closed whatever failed.
    EXPECT_EQ(plat::fake::CallsOf("RegKeyClose").size(), 2u);
  }
}

TEST(UpdateRegistry, DuplicatesAreWrittenInOrderAndEmptyKeysCreated) {
  ASSERT_EQ(ImportScript("[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:1\n\"v\"=dword:2\n"
                         "[HKEY_LOCAL_MACHINE\\Empty]\n"),
            0);
  EXPECT_EQ(plat::fake::CallsOf("RegValueSet").size(), 2u);
  const auto value = Value(u"HKEY_LOCAL_MACHINE\\A", u"v");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->data, Bytes({2, 0, 0, 0}));
  EXPECT_TRUE(plat::fake::RegKeyExists(u"HKEY_LOCAL_MACHINE\\Empty"));
  EXPECT_EQ(plat::fake::CallsOf("RegKeyCreate").size(), 2u);
  EXPECT_EQ(plat::fake::CallsOf("RegKeyClose").size(), 2u);
}

TEST(UpdateRegistry, PathsAreCutAtTheirFirstBackslash) {
  plat::fake::Reset();
  plat::fake::AddFile(regtest::kScriptPath,
                      "[HKEY_LOCAL_MACHINE\\A\\B]\n[HKEY_CURRENT_USER]\n[bogus\\X]\n");
  CScriptFile script;
  script.Open(regtest::kScriptPath);
  CBrixparse parser(script);
  CKeyNode* first = parser.ParseFile();
  ASSERT_NE(first, nullptr);
  parser.UpdateRegistry(first);
  std::vector<std::u16string> paths;
  for (const CKeyNode* k = first; k != nullptr; k = k->next.get()) paths.push_back(k->path.c_str());
  EXPECT_EQ(paths, (std::vector<std::u16string>{u"HKEY_LOCAL_MACHINE", u"HKEY_CURRENT_USER", u"bogus"}));
  EXPECT_EQ(parser.UpdateRegistry(nullptr), 1);
}

TEST(Import, ReadErrorWritesNothing) {
  std::string script;
  for (int i = 0; i < 2000; ++i) script += "[HKEY_LOCAL_MACHINE\\K" + std::to_string(i) + "]\n\"v\"=dword:1\n";
  for (int failingRead : {1, 2, 1000, 4000}) {
    SCOPED_TRACE(failingRead);
    plat::fake::Reset();
    plat::fake::AddFile(regtest::kScriptPath, script);
    plat::fake::InjectFailure({"StreamReadLine", plat::kErrorAccessDenied, failingRead, {}});
    EXPECT_EQ(plat::AppMain(nullptr, regtest::kScriptPath), 0);
    EXPECT_TRUE(plat::fake::CallsOf("RegKeyCreate").empty());
    EXPECT_TRUE(plat::fake::CallsOf("RegValueSet").empty());
    EXPECT_EQ(plat::fake::DebugText(),
              u"CBrixparse::ParseFile::cannot read script = \\Temp\\setup.reg err = 5\r\n");
  }
}

TEST(Import, CommandLinesReachTheScript) {
  const std::u16string tooLong = u"\\" + std::u16string(259, u'a');
  const struct {
    std::u16string commandLine;
    bool written;
    std::u16string debug;
  } cases[] = {
      {u"\"\\Storage Card\\setup.reg\" extra", true, u""},
      {u"\\Storage Card\\setup.reg", true, u""},
      {u"\\Storage", false, u"CScriptFile::Open::cannot open script = \\Storage err = 2\r\n"},
      {u"\\Storage Card", false, u"CScriptFile::Open::cannot open script = \\Storage Card err = 5\r\n"},
      {u"\\Missing\\setup.reg", false,
       u"CScriptFile::Open::cannot open script = \\Missing\\setup.reg err = 3\r\n"},
      {tooLong, false, u"CScriptFile::Open::cannot open script = " + tooLong + u" err = 206\r\n"},
      {u"", false, u""},
      {u"\"\"", false, u""},
  };
  for (const auto& [commandLine, written, debug] : cases) {
    SCOPED_TRACE(std::string(commandLine.begin(), commandLine.end()));
    plat::fake::Reset();
    plat::fake::AddFile(u"\\Storage Card\\setup.reg", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:1\n");
    EXPECT_EQ(plat::AppMain(nullptr, commandLine.c_str()), 0);
    EXPECT_EQ(Value(u"HKEY_LOCAL_MACHINE\\A", u"v").has_value(), written);
    EXPECT_EQ(plat::fake::DebugText(), debug);
  }
  plat::fake::Reset();
  EXPECT_EQ(plat::AppMain(nullptr, nullptr), 0);
}

TEST(Import, LongValuesOverContinuationLinesAreWrittenComplete) {
  std::string text;
  std::string script = "[HKEY_LOCAL_MACHINE\\Long]\n\"s\"=\"";
  for (int line = 0; line < 40; ++line) {
    const std::string piece(100, static_cast<char>('a' + line % 26));
    text += piece;
    script += piece + "\\\n";
  }
  script += "end\"\n\"b\"=hex:";
  std::string binary;
  for (int i = 0; i < 3000; ++i) {
    char word[8];
    std::snprintf(word, sizeof word, "%02x,", i & 0xff);
    script += word;
    binary.push_back(static_cast<char>(i & 0xff));
    if (i % 25 == 24) script += "\\\n  ";
  }
  script += "\n";
  text += "end";
  ASSERT_EQ(ImportScript(script), 0);

  const auto s = Value(u"HKEY_LOCAL_MACHINE\\Long", u"s");
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->data, Utf16Bytes(regtest::Widen(text)) + Bytes({0, 0}));
  const auto b = Value(u"HKEY_LOCAL_MACHINE\\Long", u"b");
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->data, binary);
}

TEST(Import, Utf16ScriptIsImported) {
  const std::string script =
      "\xFF\xFE" + Utf16Bytes(u"[HKEY_LOCAL_MACHINE\\\u00C4]\r\n\"\u20AC\"=\"\u00FC\"\r\n");
  ASSERT_EQ(ImportScript(script), 0);
  const auto value = Value(u"HKEY_LOCAL_MACHINE\\\u00C4", u"\u20AC");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->data, Bytes({0xFC, 0, 0, 0}));
}

TEST(Import, OverlongKeyPathIsPassedToTheRegistry) {
  const std::string subKey(600, 'k');
  ASSERT_EQ(ImportScript("[HKEY_LOCAL_MACHINE\\" + subKey + "]\n"), 0);
  const auto creates = plat::fake::CallsOf("RegKeyCreate");
  ASSERT_EQ(creates.size(), 1u);
  EXPECT_EQ(creates[0].text, u"HKEY_LOCAL_MACHINE\\" + regtest::Widen(subKey));
}

}  // namespace

}  // namespace brixparse::test
