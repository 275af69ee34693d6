// Device path mapping, directory search and folder creation of the simulator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/device.h"
#include "platform/posix/device_context.h"
#include "tests/platform/posix/test_device.h"

namespace {

using brixtest::TestDevice;

class PosixPaths : public testing::Test {
 protected:
  void SetUp() override {
    device.Write("Windows/App/app.exe", "x");
    device.MakeFolder("Temp");
    root = plat::posix::DeviceRoot();
  }
  TestDevice device;
  std::string root;
};

TEST_F(PosixPaths, DeviceFolderIsCanonicalAndRequiresFs) {
  EXPECT_EQ(plat::posix::DeviceFolder(), brixtest::Canonical(device.folder()));
  EXPECT_EQ(root, brixtest::Canonical(device.folder()) + "/fs");
  {
    const plat::posix::DeviceScope noFs({.folder = device.folder() + "/fs/Temp"});  // a folder without fs/
    EXPECT_EQ(plat::posix::DeviceFolder(), "");
  }
  const plat::posix::DeviceScope none({});
  EXPECT_EQ(plat::posix::DeviceFolder(), "");
  plat::posix::HostPath host;
  EXPECT_EQ(plat::posix::MapPath(u"\\Windows", &host), plat::kErrorPathNotFound);
}

TEST_F(PosixPaths, MapsDevicePathsBelowTheRoot) {
  struct Case {
    const char16_t* device;
    const char* host;  // below the root; "" is the root itself
  } cases[] = {
      {u"\\Windows\\App\\app.exe", "/Windows/App/app.exe"},
      {u"\\WINDOWS\\app\\APP.EXE", "/Windows/App/app.exe"},
      {u"\\\\Windows\\\\\\App\\", "/Windows/App"},
      {u"Windows\\App", "/Windows/App"},
      {u"/windows/app", "/Windows/App"},
      {u"\\.\\Windows\\.\\App", "/Windows/App"},
      {u"\\Windows\\..\\Temp", "/Temp"},
      {u"\\..\\..\\Windows", "/Windows"},
      {u"..\\Windows\\..\\..\\..\\temp", "/Temp"},
      {u"\\windows\\New\\File.TXT", "/Windows/New/File.TXT"},
      {u"\\Missing\\app", "/Missing/app"},
      {u"\\", ""},
      {u"\\..", ""},
      {u"\\Windows\\caf\u00e9", "/Windows/caf\xc3\xa9"},
  };
  for (const Case& c : cases) {
    plat::posix::HostPath host;
    ASSERT_EQ(plat::posix::MapPath(c.device, &host), 0u) << c.host;
    EXPECT_EQ(host.Full(), root + c.host);
  }
}

TEST_F(PosixPaths, RefusesNamesTheDeviceForbids) {
  const char16_t* names[] = {u"\\a*b",      u"\\a?b",     u"\\a<b", u"\\a>b", u"\\a|b",
                             u"\\a\"b",     u"\\C:\\x",   u"\\a\tb", u"\\a\x01",
                             u"\\Temp\\x*\\y", u"\\bad\xD800"};
  for (const char16_t* name : names) {
    plat::posix::HostPath host;
    EXPECT_EQ(plat::posix::MapPath(name, &host), plat::kErrorInvalidName);
  }
  plat::posix::HostPath host;
  EXPECT_EQ(plat::posix::MapPath(u"", &host), plat::kErrorPathNotFound);
  EXPECT_EQ(plat::posix::MapPath(std::u16string(300, u'a').c_str(), &host), 206u);
}

TEST_F(PosixPaths, MakeDirectory) {
  EXPECT_TRUE(plat::MakeDirectory(u"\\Data"));
  EXPECT_TRUE(device.Exists("Data"));
  EXPECT_FALSE(plat::MakeDirectory(u"\\Data"));
  EXPECT_EQ(plat::LastError(), plat::kErrorAlreadyExists);
  EXPECT_FALSE(plat::MakeDirectory(u"\\DATA"));
  EXPECT_EQ(plat::LastError(), plat::kErrorAlreadyExists);
  EXPECT_FALSE(plat::MakeDirectory(u"\\Windows\\App\\app.exe"));
  EXPECT_EQ(plat::LastError(), plat::kErrorAlreadyExists);
  EXPECT_FALSE(plat::MakeDirectory(u"\\Nowhere\\Sub"));
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
  EXPECT_FALSE(device.Exists("Nowhere"));
  EXPECT_FALSE(plat::MakeDirectory(u"\\Bad|Name"));
  EXPECT_EQ(plat::LastError(), plat::kErrorInvalidName);
  EXPECT_FALSE(device.Exists("Bad|Name"));
  // The form an installer produces for absolute paths: two leading backslashes.
  EXPECT_TRUE(plat::MakeDirectory(u"\\\\WINDOWS\\Sub"));
  EXPECT_TRUE(device.Exists("Windows/Sub"));
  EXPECT_FALSE(device.Exists("WINDOWS"));
}

class PosixFind : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"pkg/a.txt", "pkg/B.txt", "pkg/c.dll", "pkg/readme", "pkg/.hidden"})
      device.Write(name, "data");
    device.MakeFolder("pkg/sub");
    device.MakeFolder("empty");
  }

  // Every name the search yields, in order, with "/" appended to folders.
  std::vector<std::string> Search(const char16_t* pattern) {
    std::vector<std::string> names;
    plat::FindData data{};
    plat::Find* find = plat::FindFirst(pattern, &data);
    if (find == nullptr) return names;
    do {
      std::string name;
      for (const char16_t* p = data.name; *p != 0; ++p) name += static_cast<char>(*p);
      if (data.attributes == 0x10) name += '/';
      else EXPECT_EQ(data.attributes, 0x80u) << name;
      names.push_back(name);
    } while (plat::FindNextMatch(find, &data));
    EXPECT_TRUE(plat::FindEnd(find));
    return names;
  }

  TestDevice device;
};

TEST_F(PosixFind, PatternsMatchIgnoringCaseInRepeatableOrder) {
  using Names = std::vector<std::string>;
  struct Case {
    const char16_t* pattern;
    Names expected;
  } cases[] = {
      {u"\\pkg\\*", {".hidden", "a.txt", "B.txt", "c.dll", "readme", "sub/"}},
      {u"\\pkg\\*.*", {".hidden", "a.txt", "B.txt", "c.dll", "readme", "sub/"}},
      {u"\\PKG\\*.TXT", {"a.txt", "B.txt"}},
      {u"\\pkg\\?.dll", {"c.dll"}},
      {u"\\pkg\\??.dll", {}},
      {u"\\pkg\\b.TXT", {"B.txt"}},
      {u"\\pkg\\readme.*", {"readme"}},
      {u"\\pkg\\*e*", {".hidden", "readme"}},
      {u"pkg\\s*", {"sub/"}},
      {u"\\\\pkg\\\\*.dll", {"c.dll"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Search(c.pattern), c.expected);
}

TEST_F(PosixFind, ReportsWhyNothingWasFound) {
  struct Case {
    const char16_t* pattern;
    std::uint32_t error;
  } cases[] = {
      {u"\\pkg\\*.exe", plat::kErrorFileNotFound},
      {u"\\empty\\*", plat::kErrorFileNotFound},
      {u"\\pkg\\", plat::kErrorFileNotFound},
      {u"\\pkg\\..", plat::kErrorFileNotFound},
      {u"\\nodir\\*", plat::kErrorPathNotFound},
      {u"\\pkg\\a.txt\\*", plat::kErrorPathNotFound},
      {u"\\pkg\\a|b", plat::kErrorInvalidName},
      {u"\\p<g\\*", plat::kErrorInvalidName},
  };
  for (const Case& c : cases) {
    plat::FindData data{};
    plat::SetLastErrorCode(0);
    EXPECT_EQ(plat::FindFirst(c.pattern, &data), nullptr);
    EXPECT_EQ(plat::LastError(), c.error);
  }
}

TEST_F(PosixFind, SearchIsASnapshot) {
  plat::FindData data{};
  plat::Find* find = plat::FindFirst(u"\\pkg\\*.txt", &data);
  ASSERT_NE(find, nullptr);
  device.Write("pkg/added.txt", "late");
  ASSERT_TRUE(plat::FindNextMatch(find, &data));
  EXPECT_EQ(std::u16string(data.name), u"B.txt");
  EXPECT_FALSE(plat::FindNextMatch(find, &data));
  EXPECT_FALSE(plat::FindNextMatch(find, &data));
  EXPECT_TRUE(plat::FindEnd(find));
}

}  // namespace
