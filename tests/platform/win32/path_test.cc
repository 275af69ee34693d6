// Device paths as the Win32 backend hands them to the host: the device root
// is the program's drive, and nothing ever becomes a network name.
#include "platform/win32/path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using plat::win32::DeviceToHostPath;
using plat::win32::DriveOf;
using plat::win32::kHostPathCapacity;
using plat::win32::WithoutDrive;

std::u16string Host(const char16_t* device, const char16_t* drive = u"D:") {
  char16_t out[kHostPathCapacity];
  if (!DeviceToHostPath(device, drive, out, kHostPathCapacity)) return u"<refused>";
  return out;
}

TEST(Win32PathTest, DevicePathsLandOnTheProgramsDrive) {
  const struct {
    const char16_t* device;
    const char16_t* host;
  } cases[] = {
      {u"\\Windows\\wceload.exe", u"D:\\Windows\\wceload.exe"},
      {u"\\\\Windows\\App", u"D:\\Windows\\App"},  // never a server named Windows
      {u"\\\\\\Temp", u"D:\\Temp"},
      {u"Storage\\a.txt", u"D:\\Storage\\a.txt"},  // no current directory: from the root
      {u"\\", u"D:\\"},
      {u"", u"D:\\"},
      {u"\\Program Files\\x\\", u"D:\\Program Files\\x\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(Host(c.device), c.host);
}

TEST(Win32PathTest, WithoutDriveThePathStaysRooted) {
  EXPECT_EQ(Host(u"\\\\Windows", u""), u"\\Windows");
  EXPECT_EQ(Host(u"a", u""), u"\\a");
}

TEST(Win32PathTest, RefusesWhatDoesNotFitAndLeavesOutputAlone) {
  char16_t out[8] = u"keep";
  EXPECT_FALSE(DeviceToHostPath(u"\\abcde", u"D:", out, 8));  // needs 9 units with terminator
  EXPECT_EQ(std::u16string(out), u"keep");
  EXPECT_TRUE(DeviceToHostPath(u"\\abcd", u"D:", out, 8));  // exactly 8
  EXPECT_EQ(std::u16string(out), u"D:\\abcd");
}

TEST(Win32PathTest, LongestDevicePathFits) {
  std::u16string device = u"\\" + std::u16string(258, u'x');  // 259 units: a full device buffer
  char16_t out[kHostPathCapacity];
  ASSERT_TRUE(DeviceToHostPath(device.c_str(), u"Z:", out, kHostPathCapacity));
  EXPECT_EQ(std::u16string(out), u"Z:" + device);
}

TEST(Win32PathTest, DriveIsFoundAndRemoved) {
  const struct {
    const char16_t* host;
    const char16_t* drive;
    const char16_t* device;
  } cases[] = {
      {u"D:\\BrixCopy.exe", u"D:", u"\\BrixCopy.exe"},
      {u"c:\\x", u"c:", u"\\x"},
      {u"\\\\server\\share\\x", u"", u"\\\\server\\share\\x"},
      {u"1:\\x", u"", u"1:\\x"},
      {u"D", u"", u"D"},
  };
  for (const auto& c : cases) {
    char16_t drive[3];
    DriveOf(c.host, drive);
    EXPECT_EQ(std::u16string(drive), c.drive);
    EXPECT_EQ(std::u16string(WithoutDrive(c.host)), c.device);
  }
}

}  // namespace
