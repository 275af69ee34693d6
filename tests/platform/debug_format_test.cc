#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "platform/fake/fake.h"
#include "platform/platform.h"

namespace {

struct FormatCase {
  const char16_t* fmt;
  std::vector<plat::DebugArg> args;
  std::u16string expected;
};

TEST(DebugFormat, FormatsConversions) {
  const std::vector<FormatCase> cases = {
      {u"plain\r\n", {}, u"plain\r\n"},
      {u"Copying files from %s\r\n", {u"\\Windows\\BrixCopy"}, u"Copying files from \\Windows\\BrixCopy\r\n"},
      {u"[%s]", {static_cast<const char16_t*>(nullptr)}, u"[(null)]"},
      {u"%d %i", {std::int32_t{-42}, std::int32_t{7}}, u"-42 7"},
      {u"%d", {std::numeric_limits<std::int32_t>::min()}, u"-2147483648"},
      {u"%d", {std::uint32_t{183}}, u"183"},
      {u"%d", {std::uint32_t{0xFFFFFFFFu}}, u"-1"},
      {u"100%%", {}, u"100%"},
      {u"%x %5d %", {std::int32_t{1}}, u"%x %5d %"},
      {u"%s|%d|%s", {u"a"}, u"a|0|"},
      {u"%s", {u"a", u"b"}, u"a"},
      {u"%s and %d", {std::int32_t{5}, u"t"}, u"5 and 0"},
  };
  for (const FormatCase& c : cases) {
    plat::fake::Reset();
    plat::DebugPrintArgs(c.fmt, c.args.data(), c.args.size());
    EXPECT_EQ(plat::fake::DebugText(), c.expected);
  }
}

TEST(DebugFormat, TemplateForwardsEachArgument) {
  plat::fake::Reset();
  plat::DebugPrint(u"BrixCopy: cannot open source file: %s\r\nGetLastError returned: %d\r\n", u"\\a.txt",
                   std::uint32_t{2});
  EXPECT_EQ(plat::fake::DebugText(),
            u"BrixCopy: cannot open source file: \\a.txt\r\nGetLastError returned: 2\r\n");
  const auto calls = plat::fake::CallsOf("DebugOutput");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].text, plat::fake::DebugText());
}

}  // namespace
