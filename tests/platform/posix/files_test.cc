// Raw files of the simulator: dispositions, errors, sharing within and across processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>

#include "platform/backend.h"
#include "platform/platform.h"
#include "tests/platform/posix/test_device.h"

namespace {

using brixtest::TestDevice;
using plat::backend::Access;
using plat::backend::Disposition;
using plat::backend::OpenFile;
using plat::backend::Share;

std::string ReadAll(plat::File* file) {
  std::string out;
  char buffer[7];
  std::uint32_t got = 0;
  while (plat::FileRead(file, buffer, sizeof buffer, &got) && got > 0) out.append(buffer, got);
  return out;
}

TEST(PosixFiles, OpenFailuresCarryTheDeviceErrorAndCreateNothing) {
  TestDevice device;
  device.Write("Windows/a.txt", "abc");
  device.MakeFolder("Folder");
  struct Case {
    const char16_t* path;
    Disposition disposition;
    std::uint32_t error;
  } cases[] = {
      {u"\\Windows\\missing.txt", Disposition::OpenExisting, plat::kErrorFileNotFound},
      {u"\\Nowhere\\a.txt", Disposition::OpenExisting, plat::kErrorPathNotFound},
      {u"\\Nowhere\\a.txt", Disposition::CreateAlways, plat::kErrorPathNotFound},
      {u"\\Windows\\a.txt\\x", Disposition::OpenExisting, plat::kErrorPathNotFound},
      {u"\\Folder", Disposition::OpenExisting, plat::kErrorAccessDenied},
      {u"\\folder", Disposition::CreateAlways, plat::kErrorAccessDenied},
      {u"\\Windows\\a*.txt", Disposition::CreateAlways, plat::kErrorInvalidName},
      {u"\\Windows\\a:b", Disposition::CreateAlways, plat::kErrorInvalidName},
      {u"", Disposition::OpenExisting, plat::kErrorPathNotFound},
      // A file's name never ends in a separator.
      {u"\\Windows\\a.txt\\", Disposition::OpenExisting, plat::kErrorInvalidName},
      {u"\\Windows\\New\\", Disposition::CreateAlways, plat::kErrorInvalidName},
      {u"\\Folder\\", Disposition::CreateAlways, plat::kErrorAccessDenied},
      {u"\\Nowhere\\x\\", Disposition::CreateAlways, plat::kErrorPathNotFound},
  };
  for (const Case& c : cases) {
    plat::SetLastErrorCode(0);
    EXPECT_EQ(OpenFile(c.path, Access::Write, c.disposition, Share::None), nullptr);
    EXPECT_EQ(plat::LastError(), c.error);
  }
  EXPECT_FALSE(device.Exists("Nowhere"));
  EXPECT_FALSE(device.Exists("Windows/a*.txt"));
  EXPECT_FALSE(device.Exists("Windows/a:b"));
  EXPECT_FALSE(device.Exists("Windows/New"));
}

TEST(PosixFiles, CreateTruncatesAndWritesWholeChunks) {
  TestDevice device;
  device.Write("Temp/out.bin", std::string(10000, 'z'));
  plat::File* out = OpenFile(u"\\temp\\OUT.BIN", Access::Write, Disposition::CreateAlways, Share::None);
  ASSERT_NE(out, nullptr);
  std::string data(20000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  std::uint32_t written = 0;
  ASSERT_TRUE(plat::FileWrite(out, data.data(), 8192, &written));
  EXPECT_EQ(written, 8192u);
  ASSERT_TRUE(plat::FileWrite(out, data.data() + 8192, static_cast<std::uint32_t>(data.size() - 8192), &written));
  EXPECT_TRUE(plat::FileClose(out));
  EXPECT_EQ(device.Read("Temp/out.bin"), data);
  EXPECT_FALSE(device.Exists("temp"));

  plat::File* in = OpenFile(u"\\Temp\\out.bin", Access::Read, Disposition::OpenExisting, Share::None);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(ReadAll(in), data);
  std::uint32_t got = 99;
  EXPECT_TRUE(plat::FileRead(in, data.data(), 10, &got));
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(plat::backend::SeekToStart(in));
  char first[3];
  EXPECT_TRUE(plat::FileRead(in, first, 3, &got));
  EXPECT_EQ(std::string(first, got), data.substr(0, 3));
  EXPECT_TRUE(plat::FileClose(in));
}

TEST(PosixFiles, BufferedTransfersKeepOrderAcrossBlocksAndDirections) {
  TestDevice device;
  // Larger than the transfer buffer, written in chunks of several sizes.
  std::string data(3 * 1024 * 1024 + 123, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131) >> 3);
  plat::File* out = OpenFile(u"\\big.bin", Access::Write, Disposition::CreateAlways, Share::None);
  ASSERT_NE(out, nullptr);
  const std::uint32_t chunks[] = {8192, 1, 2 * 1024 * 1024, 4096};
  std::size_t at = 0;
  for (int i = 0; at < data.size(); ++i) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(chunks[i % 4], data.size() - at));
    std::uint32_t written = 0;
    ASSERT_TRUE(plat::FileWrite(out, data.data() + at, n, &written));
    ASSERT_EQ(written, n);
    at += n;
  }
  ASSERT_TRUE(plat::FileClose(out));
  EXPECT_EQ(device.Read("big.bin"), data);

  // Reads after a write, and a write after a partial read, land where the caller is.
  plat::File* both = OpenFile(u"\\big.bin", Access::ReadWrite, Disposition::OpenExisting, Share::None);
  ASSERT_NE(both, nullptr);
  char four[4];
  std::uint32_t got = 0;
  ASSERT_TRUE(plat::FileRead(both, four, 4, &got));
  ASSERT_EQ(got, 4u);
  std::uint32_t written = 0;
  ASSERT_TRUE(plat::FileWrite(both, "WXYZ", 4, &written));
  ASSERT_TRUE(plat::FileRead(both, four, 4, &got));
  EXPECT_EQ(std::string(four, got), data.substr(8, 4));
  ASSERT_TRUE(plat::backend::SeekToStart(both));
  char twelve[12];
  ASSERT_TRUE(plat::FileRead(both, twelve, 12, &got));
  EXPECT_EQ(std::string(twelve, got), data.substr(0, 4) + "WXYZ" + data.substr(8, 4));
  ASSERT_TRUE(plat::FileClose(both));
  EXPECT_EQ(device.Read("big.bin").size(), data.size());
}

TEST(PosixFiles, NamesCreatedByThisProcessAreFoundInAnyCase) {
  TestDevice device;
  device.MakeFolder("Many");
  for (int i = 0; i < 50; ++i) {
    const std::u16string name = u"\\many\\File" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                std::u16string(1, static_cast<char16_t>(u'a' + i / 26));
    plat::File* out = OpenFile(name.c_str(), Access::Write, Disposition::CreateAlways, Share::None);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(plat::FileClose(out));
    // The same name in another case is the file just made, not a second one.
    std::u16string upper = name;
    for (char16_t& c : upper)
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    plat::File* again = OpenFile(upper.c_str(), Access::Read, Disposition::OpenExisting, Share::None);
    ASSERT_NE(again, nullptr) << i;
    ASSERT_TRUE(plat::FileClose(again));
  }
  // A file made behind the simulator's back is found too.
  device.Write("Many/Outside.txt", "x");
  plat::File* outside = OpenFile(u"\\MANY\\outside.TXT", Access::Read, Disposition::OpenExisting, Share::None);
  ASSERT_NE(outside, nullptr);
  EXPECT_TRUE(plat::FileClose(outside));
}

TEST(PosixFiles, CreatesANewFileInAnExistingFolderOfOtherCase) {
  TestDevice device;
  device.MakeFolder("Windows");
  plat::File* out = OpenFile(u"\\WINDOWS\\New.txt", Access::ReadWrite, Disposition::CreateAlways, Share::None);
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(plat::FileClose(out));
  EXPECT_TRUE(device.Exists("Windows/New.txt"));
}

TEST(PosixFiles, TheExactSpellingWinsOverOtherCases) {
  TestDevice device;
  device.Write("Data/Name.txt", "upper");
  device.Write("Data/name.txt", "lower");
  // Reads try the name as written first; creations ask the folder's listing,
  // which the first creation there keeps.
  plat::File* made = OpenFile(u"\\Data\\made.txt", Access::Write, Disposition::CreateAlways, Share::None);
  ASSERT_NE(made, nullptr);
  ASSERT_TRUE(plat::FileClose(made));
  const struct {
    const char16_t* path;
    const char* file;  // the host file it names
  } cases[] = {
      {u"\\data\\name.txt", "Data/name.txt"},
      {u"\\Data\\Name.txt", "Data/Name.txt"},
      {u"\\DATA\\NAME.TXT", "Data/Name.txt"},  // no exact name: the first in byte order
      {u"\\data\\MADE.txt", "Data/made.txt"},
  };
  int mark = 0;
  for (const auto& c : cases) {
    plat::File* in = OpenFile(c.path, Access::Read, Disposition::OpenExisting, Share::None);
    ASSERT_NE(in, nullptr) << c.file;
    EXPECT_EQ(ReadAll(in), device.Read(c.file)) << c.file;
    ASSERT_TRUE(plat::FileClose(in));
    const std::string text = "mark " + std::to_string(++mark);
    plat::File* out = OpenFile(c.path, Access::Write, Disposition::CreateAlways, Share::None);
    ASSERT_NE(out, nullptr) << c.file;
    std::uint32_t written = 0;
    ASSERT_TRUE(plat::FileWrite(out, text.data(), static_cast<std::uint32_t>(text.size()), &written));
    ASSERT_TRUE(plat::FileClose(out));
    EXPECT_EQ(device.Read(c.file), text) << c.file;
  }
  EXPECT_FALSE(device.Exists("Data/NAME.TXT"));
  EXPECT_FALSE(device.Exists("Data/MADE.txt"));
}

TEST(PosixFiles, KeptFoldersFollowTheTreeAsItIsNow) {
  TestDevice device;
  device.MakeFolder("Out");
  const auto create = [](const char16_t* path) {
    plat::File* file = OpenFile(path, Access::Write, Disposition::CreateAlways, Share::None);
    return file != nullptr && plat::FileClose(file);
  };
  ASSERT_TRUE(create(u"\\Out\\a.txt"));
  // The folder is moved away and another made in its place: new files go to the new one.
  ASSERT_EQ(rename(device.Host("Out").c_str(), device.Host("Old").c_str()), 0);
  device.MakeFolder("Out");
  ASSERT_TRUE(create(u"\\Out\\b.txt"));
  EXPECT_TRUE(device.Exists("Out/b.txt"));
  EXPECT_FALSE(device.Exists("Old/b.txt"));
  // Gone without a successor: the path is missing.
  ASSERT_EQ(rename(device.Host("Out").c_str(), device.Host("Gone").c_str()), 0);
  EXPECT_FALSE(create(u"\\Out\\c.txt"));
  EXPECT_EQ(plat::LastError(), plat::kErrorPathNotFound);
  EXPECT_FALSE(device.Exists("Gone/c.txt"));
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131) >> 5);
  return bytes;
}

TEST(PosixFiles, AnUnsharedReaderMeetsTheEndOnce) {
  // Nobody on the device can change a file held without sharing, so its end,
  // once met, stays; a shared reader sees what others add. Small and large
  // files (these are read from a mapping) alike.
  for (const std::size_t size : {std::size_t{5}, std::size_t{3} << 20}) {
    for (const Share share : {Share::None, Share::ReadWrite}) {
      SCOPED_TRACE(std::to_string(size) + (share == Share::None ? " unshared" : " shared"));
      TestDevice device;
      const std::string first = Pattern(size);
      device.Write("log.txt", first);
      plat::File* file = OpenFile(u"\\log.txt", Access::Read, Disposition::OpenExisting, share);
      ASSERT_NE(file, nullptr);
      EXPECT_EQ(ReadAll(file), first);
      device.Write("log.txt", first + "more");  // behind the simulator's back
      EXPECT_EQ(ReadAll(file), share == Share::None ? "" : "more");
      // Read again from the start, the file is read as it now is.
      ASSERT_TRUE(plat::backend::SeekToStart(file));
      EXPECT_EQ(ReadAll(file), first + "more");
      EXPECT_TRUE(plat::FileClose(file));
    }
  }
}

TEST(PosixFiles, AFileCutShortWhileReadIsReadAsItNowIs) {
  TestDevice device;
  const std::string content = Pattern(std::size_t{6} << 20);
  device.Write("big.bin", content);
  plat::File* file = OpenFile(u"\\big.bin", Access::Read, Disposition::OpenExisting, Share::None);
  ASSERT_NE(file, nullptr);
  std::string head(std::size_t{1} << 20, '\0');
  std::uint32_t got = 0;
  ASSERT_TRUE(plat::FileRead(file, head.data(), static_cast<std::uint32_t>(head.size()), &got));
  ASSERT_EQ(got, head.size());
  // A host process cuts the file inside the part still to be read (nothing on
  // the device can): the read goes on to the cut, the rest of that page of the
  // file reads as zeros, and then the file ends.
  const std::size_t cut = (std::size_t{3} << 20) + 100;
  ASSERT_EQ(truncate(device.Host("big.bin").c_str(), static_cast<off_t>(cut)), 0);
  const std::string read = head + ReadAll(file);
  EXPECT_TRUE(plat::FileClose(file));
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  ASSERT_GE(read.size(), cut);
  EXPECT_LE(read.size(), (cut + page - 1) / page * page);
  EXPECT_EQ(read.substr(0, cut), content.substr(0, cut));
  EXPECT_EQ(read.substr(cut), std::string(read.size() - cut, '\0'));
}

TEST(PosixFiles, AFaultOutsideAReadStillEndsTheProgram) {
  TestDevice device;
  device.Write("big.bin", Pattern(std::size_t{2} << 20));
  device.Write("other.bin", Pattern(8192));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    plat::File* file = OpenFile(u"\\big.bin", Access::Read, Disposition::OpenExisting, Share::None);
    char byte = 0;
    std::uint32_t got = 0;
    if (file == nullptr || !plat::FileRead(file, &byte, 1, &got)) _exit(2);
    // A mapping of the program's own, cut short beneath it.
    const int fd = open(device.Host("other.bin").c_str(), O_RDWR);
    auto* mapped = static_cast<volatile char*>(mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0));
    if (mapped == MAP_FAILED || ftruncate(fd, 0) != 0) _exit(3);
    byte = mapped[4096];
    _exit(4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  // Killed by the signal, or where a sanitizer reports faults, ended by its report.
  const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS;
  const bool reported = WIFEXITED(status) && WEXITSTATUS(status) == 1;
  EXPECT_TRUE(killed || reported) << status;
}

TEST(PosixFiles, SharingWithinOneProcess) {
  TestDevice device;
  device.Write("f.txt", "content");
  struct Case {
    Share first;
    Share second;
    bool secondOpens;
  } cases[] = {
      {Share::None, Share::None, false},
      {Share::None, Share::ReadWrite, false},
      {Share::ReadWrite, Share::None, false},
      {Share::ReadWrite, Share::ReadWrite, true},
  };
  for (const Case& c : cases) {
    plat::File* a = OpenFile(u"\\f.txt", Access::Read, Disposition::OpenExisting, c.first);
    ASSERT_NE(a, nullptr);
    plat::File* b = OpenFile(u"\\F.TXT", Access::Read, Disposition::OpenExisting, c.second);
    EXPECT_EQ(b != nullptr, c.secondOpens);
    if (b != nullptr) EXPECT_TRUE(plat::FileClose(b));
    else EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
    EXPECT_TRUE(plat::FileClose(a));
  }
  // Once closed, the file is free again.
  plat::File* again = OpenFile(u"\\f.txt", Access::Read, Disposition::OpenExisting, Share::None);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(plat::FileClose(again));
}

TEST(PosixFiles, CopyOntoItselfFailsAndKeepsTheFile) {
  TestDevice device;
  const std::string original = "line one\r\nline two\r\n";
  device.Write("Windows/same.dat", original);
  plat::File* source = OpenFile(u"\\Windows\\same.dat", Access::Read, Disposition::OpenExisting, Share::None);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(OpenFile(u"\\windows\\SAME.dat", Access::Write, Disposition::CreateAlways, Share::None), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  EXPECT_TRUE(plat::FileClose(source));
  EXPECT_EQ(device.Read("Windows/same.dat"), original);
}

// A child process holds the file without sharing until told to let go.
TEST(PosixFiles, ExclusiveOpenHoldsAcrossProcesses) {
  TestDevice device;
  device.Write("Temp/held.txt", "keep me");
  int toParent[2];
  int toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    plat::File* held = OpenFile(u"\\Temp\\held.txt", Access::Read, Disposition::OpenExisting, Share::None);
    const char ready = held != nullptr ? 'y' : 'n';
    char go = 0;
    if (write(toParent[1], &ready, 1) != 1 || read(toChild[0], &go, 1) != 1) _exit(1);
    plat::FileClose(held);
    _exit(0);
  }
  char ready = 0;
  ASSERT_EQ(read(toParent[0], &ready, 1), 1);
  ASSERT_EQ(ready, 'y');
  EXPECT_EQ(OpenFile(u"\\Temp\\held.txt", Access::Write, Disposition::CreateAlways, Share::None), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  EXPECT_EQ(OpenFile(u"\\Temp\\held.txt", Access::Read, Disposition::OpenExisting, Share::ReadWrite), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  EXPECT_EQ(device.Read("Temp/held.txt"), "keep me");
  ASSERT_EQ(write(toChild[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  plat::File* mine = OpenFile(u"\\Temp\\held.txt", Access::Write, Disposition::CreateAlways, Share::None);
  ASSERT_NE(mine, nullptr);
  EXPECT_TRUE(plat::FileClose(mine));
  EXPECT_EQ(device.Read("Temp/held.txt"), "");
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
}

TEST(PosixFiles, NullHandlesFailWithInvalidHandle) {
  std::uint32_t count = 5;
  char byte = 0;
  EXPECT_FALSE(plat::FileRead(nullptr, &byte, 1, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(plat::LastError(), plat::kErrorInvalidHandle);
  EXPECT_FALSE(plat::FileWrite(nullptr, &byte, 1, &count));
  EXPECT_FALSE(plat::FileClose(nullptr));
  EXPECT_FALSE(plat::backend::SeekToStart(nullptr));
  EXPECT_EQ(plat::LastError(), plat::kErrorInvalidHandle);
}

}  // namespace

namespace {

// Deleting: a file goes, in any case of its name; a folder, an open file, a
// missing name and a refused name fail with the device's errors.
TEST(PosixFiles, DeleteRemovesFilesOnlyWhenNobodyHoldsThem) {
  TestDevice device;
  device.Write("Temp/brixcopy.log", "1234");
  device.Write("Temp/held.txt", "h");
  device.MakeFolder("Temp/Folder");
  EXPECT_TRUE(plat::FileDelete(u"\\TEMP\\BrixCopy.log"));
  EXPECT_EQ(OpenFile(u"\\Temp\\brixcopy.log", Access::Read, Disposition::OpenExisting, Share::ReadWrite), nullptr);
  plat::File* held = OpenFile(u"\\Temp\\held.txt", Access::Read, Disposition::OpenExisting, Share::None);
  ASSERT_NE(held, nullptr);
  const struct {
    const char16_t* path;
    std::uint32_t error;
  } cases[] = {
      {u"\\Temp\\held.txt", plat::kErrorSharingViolation}, {u"\\Temp\\Folder", plat::kErrorAccessDenied},
      {u"\\Temp\\missing.txt", plat::kErrorFileNotFound},  {u"\\Nowhere\\a.txt", plat::kErrorPathNotFound},
      {u"\\Temp\\a:b.txt", plat::kErrorInvalidName},       {u"\\", plat::kErrorAccessDenied},
  };
  for (const auto& c : cases) {
    plat::SetLastErrorCode(0);
    EXPECT_FALSE(plat::FileDelete(c.path));
    EXPECT_EQ(plat::LastError(), c.error);
  }
  plat::FileClose(held);
  EXPECT_TRUE(plat::FileDelete(u"\\Temp\\held.txt"));
}

}  // namespace
