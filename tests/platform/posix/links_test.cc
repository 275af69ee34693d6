// Symbolic links in the device folder: no device path is ever resolved through
// one. (Hard links, and links met by the programs themselves, are tried end to
// end in tests/e2e/sandbox_test.py.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/beneath.h"
#include "platform/posix/device.h"
#include "tests/platform/posix/test_device.h"

namespace {

using brixtest::TestDevice;
using plat::backend::Access;
using plat::backend::Disposition;
using plat::backend::Share;
constexpr std::uint32_t kLinkError = 1921;

// Opens a file as the streams' modes do: "r+b" opens, "w+b" creates, both read and write.
plat::File* OpenAs(const char16_t* path, Access access, Disposition disposition) {
  return plat::backend::OpenFile(path, access, disposition, Share::None);
}

using OpenFunction = std::function<int(int, const std::string&, int, mode_t)>;

class BeneathOpen : public testing::TestWithParam<bool> {
 protected:
  OpenFunction Open() const {
    if (GetParam()) return plat::posix::OpenBeneathByWalk;
    return [](int dirfd, const std::string& relative, int flags, mode_t mode) {
      return plat::posix::OpenBeneath(dirfd, relative, flags, mode);
    };
  }
};

TEST_P(BeneathOpen, RefusesEveryLinkAndOnlyLinks) {
  TestDevice outside;  // a second folder stands for the host outside the device
  outside.Write("secret.txt", "secret");
  outside.MakeFolder("dir");
  TestDevice device;
  device.Write("d/f", "f");
  ASSERT_EQ(symlink("d", device.Host("ld").c_str()), 0);
  ASSERT_EQ(symlink(outside.Host("dir").c_str(), device.Host("abs").c_str()), 0);
  ASSERT_EQ(symlink(outside.Host("secret.txt").c_str(), device.Host("d/lf").c_str()), 0);
  ASSERT_EQ(symlink(outside.Host("created.txt").c_str(), device.Host("dangling").c_str()), 0);
  const int root = open(device.Host("").c_str(), O_PATH | O_DIRECTORY);
  ASSERT_GE(root, 0);
  struct Case {
    const char* relative;
    int flags;
    int err;  // 0: opens
  } cases[] = {
      {"d/f", O_RDONLY, 0},
      {"", O_PATH | O_DIRECTORY, 0},
      {"d", O_RDONLY | O_DIRECTORY, 0},
      {"ld/f", O_RDONLY, ELOOP},
      {"ld", O_RDONLY | O_DIRECTORY, ELOOP},
      {"ld", O_PATH, ELOOP},
      {"d/lf", O_RDONLY, ELOOP},
      {"d/lf", O_WRONLY | O_TRUNC, ELOOP},
      {"dangling", O_WRONLY | O_CREAT, ELOOP},
      {"abs", O_RDONLY | O_DIRECTORY, ELOOP},
      {"abs/new", O_WRONLY | O_CREAT, ELOOP},
      {"missing/x", O_RDONLY, ENOENT},
      {"d/f/x", O_RDONLY, ENOTDIR},
  };
  for (const Case& c : cases) {
    errno = 0;
    const int fd = Open()(root, c.relative, c.flags, 0644);
    EXPECT_EQ(fd >= 0 ? 0 : errno, c.err) << c.relative;
    if (fd >= 0) close(fd);
  }
  close(root);
  EXPECT_EQ(outside.Read("secret.txt"), "secret");
  EXPECT_FALSE(outside.Exists("created.txt"));
  EXPECT_FALSE(outside.Exists("dir/new"));
}

INSTANTIATE_TEST_SUITE_P(KernelOrWalk, BeneathOpen, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Walk" : "Kernel"; });

class DeviceLinks : public testing::Test {
 protected:
  void SetUp() override {
    outside.Write("secret.txt", "secret");
    outside.Write("dir/a.txt", "outside a");
    device.Write("Windows/real.txt", "real");
    Link(outside.Host("secret.txt"), "Windows/secret.txt");
    Link(outside.Host("dir"), "Linked");
    Link(BRIX_TEST_LIBRARY, "Windows/lib.dll");
    Link("/bin/true", "Windows/true.exe");
  }
  void Link(const std::string& target, const std::string& name) {
    ASSERT_EQ(symlink(target.c_str(), device.Host(name).c_str()), 0) << name;
  }
  TestDevice outside;  // made first, so that the device is the one in force
  TestDevice device;
};

TEST_F(DeviceLinks, EveryServiceRefusesThePathWithTheLinkError) {
  plat::FindData data{};
  const struct {
    const char* what;
    std::function<bool()> call;  // true when the call succeeded
  } cases[] = {
      {"read below a linked folder", [] { return OpenAs(u"\\linked\\A.TXT", Access::Read, Disposition::OpenExisting); }},
      {"create below a linked folder", [] { return OpenAs(u"\\Linked\\new.txt", Access::Write, Disposition::CreateAlways); }},
      {"search a linked folder", [&] { return plat::FindFirst(u"\\Linked\\*", &data) != nullptr; }},
      {"folder below a linked folder", [] { return plat::MakeDirectory(u"\\Linked\\Sub"); }},
      {"linked library", [] { return plat::LibraryLoad(u"\\Windows\\lib.dll") != nullptr; }},
      {"linked program", [] { return plat::ProcessStart(u"\\Windows\\true.exe", nullptr) != nullptr; }},
  };
  for (const auto& c : cases) {
    plat::SetLastErrorCode(0);
    EXPECT_FALSE(c.call()) << c.what;
    EXPECT_EQ(plat::LastError(), kLinkError) << c.what;
  }
  EXPECT_EQ(outside.Read("secret.txt"), "secret");
  EXPECT_FALSE(outside.Exists("dir/new.txt"));
  EXPECT_FALSE(outside.Exists("dir/Sub"));
  // A search of the folder holding a link lists it as a file, without looking through it.
  plat::Find* find = plat::FindFirst(u"\\Windows\\s*", &data);
  ASSERT_NE(find, nullptr);
  EXPECT_EQ(std::u16string(data.name), u"secret.txt");
  EXPECT_EQ(data.attributes, 0x80u);
  plat::FindEnd(find);
  // The operator learns which path held the link.
  EXPECT_NE(brixtest::ReadHost(device.folder() + "/simulator.log").find("/Windows/lib.dll: a symbolic link"),
            std::string::npos);
}

TEST_F(DeviceLinks, AFolderReplacedByALinkIsRefusedAfterUse) {
  device.MakeFolder("Out");
  plat::File* before = OpenAs(u"\\Out\\a.txt", Access::Write, Disposition::CreateAlways);
  ASSERT_NE(before, nullptr);
  ASSERT_TRUE(plat::FileClose(before));
  ASSERT_EQ(rename(device.Host("Out").c_str(), device.Host("Was").c_str()), 0);
  Link(outside.Host("dir"), "Out");
  plat::SetLastErrorCode(0);
  EXPECT_EQ(OpenAs(u"\\Out\\b.txt", Access::Write, Disposition::CreateAlways), nullptr);
  EXPECT_EQ(plat::LastError(), kLinkError);
  EXPECT_FALSE(outside.Exists("dir/b.txt"));
  EXPECT_FALSE(device.Exists("Was/b.txt"));
}

TEST(DeviceFolderLinks, LinkedRootIsNoDevice) {
  TestDevice device;
  TestDevice linked;
  rmdir(linked.Host("").c_str());
  ASSERT_EQ(symlink(device.Host("").c_str(), (linked.folder() + "/fs").c_str()), 0);
  EXPECT_EQ(plat::posix::OpenDevice(), nullptr);
  EXPECT_NE(plat::posix::DeviceProblem().find("fs is a symbolic link"), std::string::npos);
  plat::posix::HostPath host;
  EXPECT_EQ(plat::posix::MapPath(u"\\Windows", &host), plat::kErrorPathNotFound);
}

}  // namespace
