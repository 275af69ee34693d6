// Library loading and the module path of the simulator.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/platform/posix/test_device.h"

namespace {

using brixtest::TestDevice;

TEST(PosixLibrary, LoadsADeviceLibraryAndFindsItsExports) {
  TestDevice device;
  brixtest::CopyInto(device, BRIX_TEST_LIBRARY, "Windows/testlib.dll");
  plat::Module* library = plat::LibraryLoad(u"\\WINDOWS\\TestLib.DLL");
  ASSERT_NE(library, nullptr) << plat::LastError();
  plat::ExportProc proc = plat::LibraryExport(library, u"DllRegisterServer");
  ASSERT_NE(proc, nullptr);
  EXPECT_EQ(proc(), 42);
  plat::ExportProc wide = plat::LibraryExport(library, u"Caf\u00e9");
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide(), 7);
  plat::SetLastErrorCode(0);
  EXPECT_EQ(plat::LibraryExport(library, u"DllUnregisterServer"), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorProcNotFound);
  EXPECT_EQ(plat::LibraryExport(library, u"dllregisterserver"), nullptr);
  EXPECT_TRUE(plat::LibraryFree(library));
}

TEST(PosixLibrary, LoadFailuresCarryTheDeviceError) {
  TestDevice device;
  device.Write("Windows/text.dll", "not a library");
  device.MakeFolder("Windows/folder.dll");
  struct Case {
    const char16_t* path;
    std::uint32_t error;
  } cases[] = {
      {u"\\Windows\\missing.dll", plat::kErrorModNotFound},
      {u"\\Nowhere\\missing.dll", plat::kErrorModNotFound},
      {u"\\Windows\\text.dll", plat::kErrorBadExeFormat},
      {u"\\Windows\\folder.dll", plat::kErrorAccessDenied},
      {u"\\Windows\\a|b.dll", plat::kErrorInvalidName},
  };
  for (const Case& c : cases) {
    plat::SetLastErrorCode(0);
    EXPECT_EQ(plat::LibraryLoad(c.path), nullptr);
    EXPECT_EQ(plat::LastError(), c.error);
  }
  EXPECT_FALSE(plat::LibraryFree(nullptr));
  EXPECT_EQ(plat::LibraryExport(nullptr, u"x"), nullptr);
}

TEST(PosixModule, ProgramOutsideTheDeviceHasNoModulePath) {
  TestDevice device;  // this test program lies in the build folder, not on the device
  char16_t buffer[plat::kMaxPath] = u"untouched";
  EXPECT_EQ(plat::ModuleFileName(buffer, plat::kMaxPath), 0u);
  EXPECT_EQ(std::u16string(buffer), u"untouched");
}

}  // namespace
