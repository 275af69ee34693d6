// Links in the device folder: no device path is ever resolved through a
// symbolic link, and no write through a hard link reaches a file outside.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// A host folder outside the device, with what a link in the device may point at.
class Outside {
 public:
  Outside() {
    char pattern[] = "/tmp/brix-outside-XXXXXX";
    path_ = mkdtemp(pattern) != nullptr ? pattern : "";
    mkdir((path_ + "/dir").c_str(), 0755);
    Write("dir/a.txt", "outside a");
    Write("secret.txt", "secret");
  }
  ~Outside() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) const {
    const int fd = open(Path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
  }
  std::string Read(const std::string& name) const {
    const int fd = open(Path(name).c_str(), O_RDONLY);
    char buffer[256];
    const ssize_t n = fd < 0 ? -1 : read(fd, buffer, sizeof buffer);
    if (fd >= 0) close(fd);
    return n < 0 ? "<missing>" : std::string(buffer, static_cast<std::size_t>(n));
  }
  bool Exists(const std::string& name) const {
    struct stat st {};
    return lstat(Path(name).c_str(), &st) == 0;
  }

 private:
  std::string path_;
};

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
  TestDevice device;
  Outside outside;
  device.Write("d/f", "f");
  ASSERT_EQ(symlink("d", device.Host("ld").c_str()), 0);
  ASSERT_EQ(symlink(outside.Path("dir").c_str(), device.Host("abs").c_str()), 0);
  ASSERT_EQ(symlink(outside.Path("secret.txt").c_str(), device.Host("d/lf").c_str()), 0);
  ASSERT_EQ(symlink(outside.Path("created.txt").c_str(), device.Host("dangling").c_str()), 0);
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
      {"abs/a.txt", O_RDONLY, ELOOP},
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
    device.Write("Windows/real.txt", "real");
    device.MakeFolder("Temp");
    Link(outside.Path("secret.txt"), "Windows/secret.txt");
    Link(outside.Path("dir"), "Linked");
    Link(outside.Path("counter"), "Temp/brixcopy.log");
    Link(BRIX_TEST_LIBRARY, "Windows/lib.dll");
    Link("/bin/true", "Windows/true.exe");
    outside.Write("counter", std::string("\x07\0\0\0", 4));
  }
  void Link(const std::string& target, const std::string& name) {
    ASSERT_EQ(symlink(target.c_str(), device.Host(name).c_str()), 0) << name;
  }
  TestDevice device;
  Outside outside;
};

TEST_F(DeviceLinks, EveryServiceRefusesThePathWithTheLinkError) {
  plat::FindData data{};
  const struct {
    const char* what;
    std::function<bool()> call;  // true when the call succeeded
  } cases[] = {
      {"read a linked file", [] { return OpenAs(u"\\Windows\\secret.txt", Access::Read, Disposition::OpenExisting); }},
      {"read below a linked folder", [] { return OpenAs(u"\\linked\\A.TXT", Access::Read, Disposition::OpenExisting); }},
      {"create below a linked folder", [] { return OpenAs(u"\\Linked\\new.txt", Access::Write, Disposition::CreateAlways); }},
      {"create over a linked file", [] { return OpenAs(u"\\Windows\\secret.txt", Access::Write, Disposition::CreateAlways); }},
      {"counter update", [] { return OpenAs(u"\\Temp\\brixcopy.log", Access::ReadWrite, Disposition::OpenExisting); }},
      {"counter creation", [] { return OpenAs(u"\\Temp\\brixcopy.log", Access::ReadWrite, Disposition::CreateAlways); }},
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
  EXPECT_EQ(outside.Read("counter"), std::string("\x07\0\0\0", 4));
  EXPECT_FALSE(outside.Exists("dir/new.txt"));
  EXPECT_FALSE(outside.Exists("dir/Sub"));
  // A search of the folder holding a link lists it as a file, without looking through it.
  plat::Find* find = plat::FindFirst(u"\\Windows\\s*", &data);
  ASSERT_NE(find, nullptr);
  EXPECT_EQ(std::u16string(data.name), u"secret.txt");
  EXPECT_EQ(data.attributes, 0x80u);
  plat::FindEnd(find);
  // The operator learns which path held the link.
  EXPECT_NE(brixtest::ReadHost(device.folder() + "/simulator.log").find("/Windows/secret.txt: a symbolic link"),
            std::string::npos);
}

TEST_F(DeviceLinks, WritesThroughAHardLinkGetAFileOfTheirOwn) {
  outside.Write("shared.txt", "outside bytes");
  ASSERT_EQ(link(outside.Path("shared.txt").c_str(), device.Host("Windows/hard.txt").c_str()), 0);
  ASSERT_EQ(link(outside.Path("counter").c_str(), device.Host("Temp/count.bin").c_str()), 0);
  // Reading is reading the device's own name.
  plat::File* in = OpenAs(u"\\Windows\\hard.txt", Access::Read, Disposition::OpenExisting);
  ASSERT_NE(in, nullptr);
  EXPECT_TRUE(plat::FileClose(in));

  plat::File* out = OpenAs(u"\\Windows\\hard.txt", Access::Write, Disposition::CreateAlways);
  ASSERT_NE(out, nullptr);
  std::uint32_t count = 0;
  EXPECT_TRUE(plat::FileWrite(out, "device", 6, &count));
  EXPECT_TRUE(plat::FileClose(out));

  // Updated in place, as the execution counter is: the content comes along.
  plat::File* counter = OpenAs(u"\\Temp\\count.bin", Access::ReadWrite, Disposition::OpenExisting);
  ASSERT_NE(counter, nullptr);
  char value[4] = {};
  EXPECT_TRUE(plat::FileRead(counter, value, 4, &count));
  EXPECT_EQ(std::string(value, count), std::string("\x07\0\0\0", 4));
  EXPECT_TRUE(plat::backend::SeekToStart(counter));
  EXPECT_TRUE(plat::FileWrite(counter, "\x08", 1, &count));
  EXPECT_TRUE(plat::FileClose(counter));

  EXPECT_EQ(outside.Read("shared.txt"), "outside bytes");
  EXPECT_EQ(outside.Read("counter"), std::string("\x07\0\0\0", 4));
  EXPECT_EQ(device.Read("Windows/hard.txt"), "device");
  EXPECT_EQ(device.Read("Temp/count.bin"), std::string("\x08\0\0\0", 4));
  struct stat st {};
  ASSERT_EQ(stat(device.Host("Windows/hard.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_nlink, 1u);
  // No temporary name is left behind.
  plat::FindData data{};
  plat::Find* find = plat::FindFirst(u"\\Windows\\.*", &data);
  EXPECT_EQ(find, nullptr);
  if (find != nullptr) plat::FindEnd(find);
}

TEST(DeviceFolderLinks, LinkedRootOrRunFolderIsRefused) {
  TestDevice device;
  Outside outside;
  // A linked run folder: no mutex, and nothing made where it points.
  ASSERT_EQ(symlink(outside.Path("dir").c_str(), (device.folder() + "/run").c_str()), 0);
  plat::SetLastErrorCode(0);
  EXPECT_EQ(plat::MutexCreateNamed(u"BrixCopy", true), nullptr);
  EXPECT_EQ(plat::LastError(), kLinkError);
  EXPECT_FALSE(outside.Exists("dir/mutex-BrixCopy.lock"));
  // A linked device root: no device at all, with the reason.
  TestDevice linked;
  rmdir(linked.Host("").c_str());
  ASSERT_EQ(symlink(device.Host("").c_str(), (linked.folder() + "/fs").c_str()), 0);
  EXPECT_EQ(plat::posix::OpenDevice(), nullptr);
  EXPECT_NE(plat::posix::DeviceProblem().find("fs is a symbolic link"), std::string::npos);
  plat::posix::HostPath host;
  EXPECT_EQ(plat::posix::MapPath(u"\\Windows", &host), plat::kErrorPathNotFound);
}

}  // namespace
