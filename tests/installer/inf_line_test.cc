// Splitting of install script lines into source, destination and options.
#include "installer/inf_line.h"

#include <string>

#include "test_support.h"

namespace brixcopy::test {
namespace {

struct ParseCase {
  std::string line;
  std::string source;
  std::string destination;
  std::string options;
  bool resolved;
};

class ParseInfLineTest : public FakeDeviceTest,
                         public ::testing::WithParamInterface<ParseCase> {};

TEST_P(ParseInfLineTest, SplitsFields) {
  const ParseCase& c = GetParam();
  char16_t source[kPathChars];
  char16_t destination[kPathChars];
  char16_t options[kPathChars];
  bool resolved = !c.resolved;
  ASSERT_EQ(ParseInfLine(U(c.line).c_str(), kPackageDir, source, destination, options, &resolved), 1);
  EXPECT_EQ(A(source), c.source);
  EXPECT_EQ(A(destination), c.destination);
  EXPECT_EQ(A(options), c.options);
  EXPECT_EQ(resolved, c.resolved);
  EXPECT_EQ(Debug(), "");
}

const std::string P = "\\Windows\\BrixCopy";

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseInfLineTest,
    ::testing::Values(
        ParseCase{"'setup.exe' '\\Windows'\n", P + "\\setup.exe", "\\Windows\\setup.exe", "", true},
        ParseCase{"'app\\data.bin' '\\Program Files\\App\\'", P + "\\app\\data.bin",
                  "\\Program Files\\App\\app\\data.bin", "", true},
        ParseCase{"'\\Storage\\a.txt' '\\Windows\\b.txt'\n", "\\Storage\\a.txt", "\\Windows\\b.txt",
                  "", false},
        ParseCase{"'\\Windows\\x.dll' -r\n", "\\Windows\\x.dll", "\\", "-r\n", false},
        ParseCase{"'\\Windows\\app.exe -s' -e\n", "\\Windows\\app.exe -s", "\\", "-e\n", false},
        ParseCase{"'x.dll' '\\Windows' -r\n", P + "\\x.dll", "\\Windows\\x.dll", "-r\n", true},
        ParseCase{"'a.txt' ''", P + "\\a.txt", "\\a.txt", "", true},
        // A relative source without destination stays as written.
        ParseCase{"'x.dll' -r", "x.dll", "\\", "-r", false},
        // Dashes inside fields, or before the destination, are no options.
        ParseCase{"'\\a-b.txt' '\\c-d'\n", "\\a-b.txt", "\\c-d", "", false},
        ParseCase{"'\\a' - '\\b'", "\\a", "\\b", "", false},
        ParseCase{"'\\a' junk -x -r tail\n", "\\a", "\\", "-x -r tail\n", false},
        // Text before and between the fields is ignored.
        ParseCase{"\t x 'a' y '\\d' z -e", P + "\\a", "\\d\\a", "-e", true},
        ParseCase{"''", "", "\\", "", false},
        ParseCase{"'' '\\d'", P + "\\", "\\d\\", "", true}));

struct FailCase {
  std::string line;
  std::string message;
};

class ParseInfLineFailTest : public FakeDeviceTest,
                             public ::testing::WithParamInterface<FailCase> {};

TEST_P(ParseInfLineFailTest, ReportsMalformedLine) {
  const FailCase& c = GetParam();
  char16_t source[kPathChars];
  char16_t destination[kPathChars];
  char16_t options[kPathChars];
  EXPECT_EQ(ParseInfLine(U(c.line).c_str(), kPackageDir, source, destination, options), 0);
  EXPECT_EQ(Debug(), c.message);
}

const std::string kLongName(245, 'n');

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseInfLineFailTest,
    ::testing::Values(
        FailCase{"[Files]\n", "BrixCopy: Invalid INF line (no source starting quote):\r\n[Files]\n\r\n"},
        FailCase{"'\\a.txt\n", "BrixCopy: Invalid INF line (no source ending quote):\r\n'\\a.txt\n\r\n"},
        FailCase{"'\\a' '\\b\n", "BrixCopy: Invalid INF line (no destination ending quote):\r\n'\\a' '\\b\n\r\n"},
        // The package directory and a long relative source do not fit one path.
        FailCase{"'" + kLongName + "' '\\d'",
                 "BrixCopy: Invalid INF line (path too long):\r\n'" + kLongName + "' '\\d'\r\n"},
        // The destination with the relative source appended does not fit.
        FailCase{"'" + std::string(60, 's') + "' '\\" + std::string(200, 'd') + "'",
                 "BrixCopy: Invalid INF line (path too long):\r\n'" + std::string(60, 's') +
                     "' '\\" + std::string(200, 'd') + "'\r\n"},
        // A field longer than its buffer (only possible for text handed over directly).
        FailCase{"'\\" + std::string(300, 'f') + "'",
                 "BrixCopy: Invalid INF line (path too long):\r\n'\\" + std::string(300, 'f') +
                     "'\r\n"}));

// The composed source may use every unit of its buffer, but not one more.
TEST_F(FakeDeviceTest, ComposedSourceFitsExactlyTheBuffer) {
  char16_t source[kPathChars];
  char16_t destination[kPathChars];
  char16_t options[kPathChars];
  const std::string fits(259 - P.size() - 1, 'f');
  ASSERT_EQ(ParseInfLine(U("'" + fits + "' '\\'").c_str(), kPackageDir, source, destination, options), 1);
  EXPECT_EQ(A(source), P + "\\" + fits);
  EXPECT_EQ(wstr::Len(source), 259u);
  EXPECT_EQ(ParseInfLine(U("'" + fits + "x' '\\'").c_str(), kPackageDir, source, destination, options), 0);
}

}  // namespace
}  // namespace brixcopy::test
