// Conversion of desktop registry exports into the importer's dialect: what each
// form becomes, what is left out and why, and how the export's bytes are read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brixdev/commands/reg_convert_command.h"
#include "brixdev/registry/desktop_conversion.h"
#include "tests/brixdev/workbench_support.h"

namespace {

std::string Utf16Export(const std::u16string& text) {
  std::string bytes = "\xff\xfe";
  for (const char16_t u : text) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

struct ValueCase {
  const char* name;
  std::u16string line;    // a value line of a version-5 export
  std::string converted;  // the line written, UTF-8; empty when left out
  const char* leftOutId;  // the finding when left out
};

const ValueCase kValues[] = {
    {"String", u"\"s\"=\"plain\"", "\"s\"=\"plain\"", ""},
    {"Escapes", u"\"p\"=\"C:\\\\Temp\\\\ \\\"x\\\"\"", "\"p\"=\"C:\\Temp\\ \"x\"\"", ""},
    {"BeyondAscii", u"\"t\"=\"grüße €\"", "\"t\"=\"grüße €\"", ""},
    {"SemicolonInText", u"\"s\"=\"a;b\"", "\"s\"=\"a;b\"", ""},
    {"Dword", u"\"d\"=dword:0000000A", "\"d\"=dword:0000000a", ""},
    {"DwordOfHex", u"\"d\"=hex(4):01,00,00,00", "\"d\"=dword:00000001", ""},
    {"Binary", u"\"b\"=hex:01,ff", "\"b\"=hex:01,ff", ""},
    {"ExpandString", u"\"e\"=hex(2):25,00,41,00,25,00,00,00", "\"e\"=hex(2):25,41,25,00", ""},
    {"StringList", u"\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00", "\"m\"=hex(7):61,00,62,00,00", ""},
    {"StringListBeyondLatin1", u"\"m\"=hex(7):ac,20,00,00,78,00,00,00,00,00", "\"m\"=multi_sz:\"€\",\"x\"", ""},
    {"StringOfHex", u"\"s\"=hex(1):61,00,00,00", "\"s\"=\"a\"", ""},
    {"DefaultValue", u"@=\"x\"", "", "default-value"},
    {"DeletedValue", u"\"v\"=-", "", "deletion"},
    {"Qword", u"\"q\"=hex(b):01,00,00,00,00,00,00,00", "", "unsupported-type"},
    {"ExpandStringBeyondLatin1", u"\"e\"=hex(2):ac,20,00,00", "", "wide-character"},
    {"StringListWithComma", u"\"m\"=hex(7):ac,20,2c,00,78,00,00,00,00,00", "", "wide-character"},
    {"LineBreak", u"\"s\"=\"a\\nb\"", "", "line-break"},
    {"ZeroCharacter", u"\"s\"=hex(1):61,00,00,00,62,00,00,00", "", "zero-character"},
    {"QuoteInName", u"\"a\\\"b\"=dword:1", "", "name-quote"},
    {"LongName", u"\"" + std::u16string(256, u'n') + u"\"=dword:1", "", "long-name"},
    {"ShortDword", u"\"d\"=hex(4):01,00", "", "unsupported-type"},
    {"NotAValue", u"\"s\"=something", "", "unreadable-line"},
    {"SemicolonsInNameAndText", u"\"a;\"=\"x;\" ", "\"a;\"=\"x;\"", ""},
    // A lone surrogate has no UTF-8 form: the script would hold another character.
    {"ReadsDifferently", u"\"s\"=hex(1):00,d8,00,00", "", "reads-differently"},
};

class ConvertValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ConvertValue, WritesTheValueOrLeavesItOut) {
  const ValueCase& c = GetParam();
  const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n" + c.line + u"\r\n";
  brixdev::Conversion conversion;
  std::string error;
  ASSERT_TRUE(brixdev::ConvertExport(Utf16Export(text), "x.reg", &conversion, &error)) << error;
  const std::string head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n";
  EXPECT_EQ(conversion.script, head + (c.converted.empty() ? "" : c.converted + "\n"));
  const std::vector<wbtest::Finding> found = wbtest::ParseFindings(conversion.leftOut.Text());
  if (std::string(c.leftOutId).empty()) {
    EXPECT_TRUE(found.empty()) << conversion.leftOut.Text();
  } else {
    ASSERT_EQ(found.size(), 1u) << conversion.leftOut.Text();
    EXPECT_EQ(found[0].id, c.leftOutId);
    EXPECT_EQ(found[0].line, 4);
    EXPECT_EQ(found[0].file, "x.reg");
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, ConvertValue, ::testing::ValuesIn(kValues),
                         [](const ::testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.name); });

TEST(ConvertExport, KeysRootsAndContinuedData) {
  const std::string text =
      "REGEDIT4\r\n\r\n"
      "[hkey_local_machine\\Software\\A]\r\n"
      "\"b\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,\\\r\n"
      "  19,1a\r\n"
      "[HKEY_CURRENT_USER]\r\n\"r\"=dword:00000001\r\n"
      "[HKEY_USERS\\.DEFAULT]\r\n\"u\"=dword:00000001\r\n"
      "[-HKEY_LOCAL_MACHINE\\Software\\Old]\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\B;C]\r\n\"lost\"=dword:00000002\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Empty]\r\n";
  brixdev::Conversion conversion;
  std::string error;
  ASSERT_TRUE(brixdev::ConvertExport(text, "x.reg", &conversion, &error)) << error;
  EXPECT_EQ(conversion.script,
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\A]\n"
            "\"b\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,\\\n"
            "  19,1a\n\n"
            "[HKEY_CURRENT_USER\\]\n\"r\"=dword:00000001\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Empty]\n");
  const std::vector<wbtest::Finding> found = wbtest::ParseFindings(conversion.leftOut.Text());
  ASSERT_EQ(found.size(), 3u) << conversion.leftOut.Text();
  EXPECT_EQ(found[0].line, 8);
  EXPECT_EQ(found[0].id, "unknown-root");
  EXPECT_EQ(found[1].line, 10);
  EXPECT_EQ(found[1].id, "deletion");
  EXPECT_EQ(found[2].line, 11);
  EXPECT_EQ(found[2].id, "key-name");
  EXPECT_NE(found[2].message.find("with its 1 value"), std::string::npos);
}

TEST(ConvertExport, TextsOfRegedit4ExportsAreAnsiUnlessTheFileIsUtf8) {
  // é as Windows-1252 (E9) and as UTF-8 (C3 A9); hex(2) texts are in the file's encoding too.
  const std::string ansi = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"s\"=\"caf\xe9\"\n\"e\"=hex(2):e9,00\n";
  const std::string utf8 = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"s\"=\"caf\xc3\xa9\"\n\"e\"=hex(2):c3,a9,00\n";
  for (const std::string& text : {ansi, utf8}) {
    brixdev::Conversion conversion;
    std::string error;
    ASSERT_TRUE(brixdev::ConvertExport(text, "x.reg", &conversion, &error)) << error;
    EXPECT_EQ(conversion.script, "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"s\"=\"caf\xc3\xa9\"\n\"e\"=hex(2):e9,00\n");
    EXPECT_EQ(conversion.leftOut.Text(), "");
  }
}

TEST(ConvertExport, DataBeyondOneMebibyteIsLeftOut) {
  std::string bytes;
  for (int i = 0; i <= 1048576; ++i) bytes += i == 0 ? "01" : ",01";
  brixdev::Conversion conversion;
  std::string error;
  ASSERT_TRUE(brixdev::ConvertExport("REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"big\"=hex:" + bytes + "\n", "x.reg",
                                     &conversion, &error));
  EXPECT_EQ(conversion.script, "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n");
  EXPECT_NE(conversion.leftOut.Text().find("x.reg:3:1: warning: left out: the data is larger than 1 MiB [large-data]"),
            std::string::npos);
}

TEST(ConvertExport, RefusesWhatIsNoExport) {
  brixdev::Conversion conversion;
  std::string error;
  EXPECT_FALSE(brixdev::ConvertExport("[HKEY_CURRENT_USER\\K]\n", "x.reg", &conversion, &error));
  EXPECT_NE(error.find("not a registry export"), std::string::npos);
}

TEST(RegConvertCommand, ExitStatusTellsWhetherSomethingWasLeftOut) {
  wbtest::TempFolder folder;
  const std::string clean = folder.Write("clean.reg", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"d\"=dword:1\n");
  const std::string lossy = folder.Write("lossy.reg", "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n@=\"x\"\n");
  std::string out, err;
  EXPECT_EQ(brixdev::RegConvert(clean, "", &out, &err), 0);
  EXPECT_EQ(out, "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"d\"=dword:00000001\n");
  EXPECT_EQ(err, "");
  out.clear();
  EXPECT_EQ(brixdev::RegConvert(lossy, folder.path() + "/out.reg", &out, &err), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(wbtest::ReadFile(folder.path() + "/out.reg"), "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n");
  EXPECT_EQ(err, lossy + ":3:1: warning: left out: @= sets the default value; the importer has none [default-value]\n");
  EXPECT_EQ(brixdev::RegConvert(folder.path() + "/absent.reg", "", &out, &err), 2);
}

}  // namespace
