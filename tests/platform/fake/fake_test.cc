// Semantics of the in-memory fake backend that the programs' unit tests rely on.
#include "platform/fake/fake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

namespace fake = plat::fake;

class FakeTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
};

std::string ReadAll(plat::File* f) {
  std::string out;
  char chunk[3];
  std::uint32_t got = 0;
  while (plat::FileRead(f, chunk, sizeof chunk, &got) && got > 0) out.append(chunk, got);
  return out;
}

bool Write(plat::File* f, const std::string& bytes) {
  std::uint32_t written = 0;
  return plat::FileWrite(f, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written) &&
         written == bytes.size();
}

TEST_F(FakeTest, PathsAreCaseInsensitiveAndCasePreserving) {
  fake::AddFile(u"\\Windows\\App\\Data.BIN", "abc");
  for (const char16_t* path : {u"\\windows\\app\\data.bin", u"Windows\\App\\Data.BIN", u"\\\\Windows\\\\App\\Data.bin"}) {
    plat::File* f = plat::FileOpenRead(path);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ReadAll(f), "abc");
    EXPECT_TRUE(plat::FileClose(f));
  }
  EXPECT_TRUE(fake::IsDirectory(u"\\WINDOWS\\app\\"));
  EXPECT_EQ(fake::ListTree(),
            (std::vector<std::u16string>{u"\\Windows\\", u"\\Windows\\App\\", u"\\Windows\\App\\Data.BIN"}));
}

TEST_F(FakeTest, OpenAndCreateErrors) {
  fake::AddFile(u"\\Dir\\file.txt", "x");
  struct OpenCase {
    const char16_t* path;
    bool create;
    std::uint32_t error;
  };
  const std::vector<OpenCase> cases = {
      {u"\\Dir\\missing.txt", false, plat::kErrorFileNotFound},
      {u"\\NoDir\\x.txt", false, plat::kErrorPathNotFound},
      {u"\\NoDir\\x.txt", true, plat::kErrorPathNotFound},
      {u"\\Dir\\file.txt\\x", true, plat::kErrorPathNotFound},
      {u"\\Dir", false, plat::kErrorAccessDenied},
      {u"\\Dir", true, plat::kErrorAccessDenied},
      {u"\\Dir\\a*b", true, plat::kErrorInvalidName},
      {u"\\Dir\\a?b", false, plat::kErrorInvalidName},
      {u"\\Dir\\a\"b", true, plat::kErrorInvalidName},
      {u"\\Dir\\a\x01" u"b", true, plat::kErrorInvalidName},
  };
  for (const OpenCase& c : cases) {
    plat::SetLastErrorCode(0);
    plat::File* f = c.create ? plat::FileCreateWrite(c.path) : plat::FileOpenRead(c.path);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(plat::LastError(), c.error) << (c.create ? "create " : "open ") << c.error;
  }
}

TEST_F(FakeTest, ExclusiveOpensAndSameFileCopy) {
  fake::AddFile(u"\\a.txt", "original");
  plat::File* src = plat::FileOpenRead(u"\\a.txt");
  ASSERT_NE(src, nullptr);
  EXPECT_EQ(plat::FileOpenRead(u"\\A.txt"), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  EXPECT_EQ(plat::FileCreateWrite(u"\\a.txt"), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  EXPECT_EQ(fake::FileContents(u"\\a.txt"), "original");
  EXPECT_TRUE(plat::FileClose(src));

  plat::File* dst = plat::FileCreateWrite(u"\\a.txt");
  ASSERT_NE(dst, nullptr);
  EXPECT_EQ(fake::FileContents(u"\\a.txt"), "");
  EXPECT_TRUE(Write(dst, "new"));
  std::uint32_t got = 9;
  char c;
  EXPECT_FALSE(plat::FileRead(dst, &c, 1, &got));
  EXPECT_EQ(plat::LastError(), plat::kErrorAccessDenied);
  EXPECT_TRUE(plat::FileClose(dst));
  EXPECT_FALSE(plat::FileClose(dst));
  EXPECT_EQ(plat::LastError(), plat::kErrorInvalidHandle);
  EXPECT_EQ(fake::FileContents(u"\\a.txt"), "new");
}

TEST_F(FakeTest, ReadWriteRecordsPathsAndCounts) {
  fake::AddFile(u"\\Src\\a.bin", std::string(10, 'q'));
  plat::File* src = plat::FileOpenRead(u"\\Src\\a.bin");
  plat::File* dst = plat::FileCreateWrite(u"\\b.bin");
  char buffer[8];
  std::uint32_t got = 0;
  std::vector<std::uint32_t> reads;
  do {
    ASSERT_TRUE(plat::FileRead(src, buffer, sizeof buffer, &got));
    reads.push_back(got);
    std::uint32_t written = 0;
    if (got > 0) {
      ASSERT_TRUE(plat::FileWrite(dst, buffer, got, &written));
    }
  } while (got > 0);
  EXPECT_EQ(reads, (std::vector<std::uint32_t>{8, 2, 0}));
  plat::FileClose(src);
  plat::FileClose(dst);
  const auto writes = fake::CallsOf("FileWrite");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].text, u"\\b.bin");
  EXPECT_EQ(writes[0].number, 8);
  EXPECT_EQ(writes[1].number, 2);
  EXPECT_EQ(fake::CallsOf("FileOpenRead").at(0).text, u"\\Src\\a.bin");
  EXPECT_EQ(fake::CallsOf("FileCreateWrite").at(0).text, u"\\b.bin");
  EXPECT_EQ(fake::FileContents(u"\\b.bin"), std::string(10, 'q'));
}

TEST_F(FakeTest, MakeDirectory) {
  fake::AddFile(u"\\f.txt", "");
  struct DirCase {
    const char16_t* path;
    bool ok;
    std::uint32_t error;
  };
  const std::vector<DirCase> cases = {
      {u"\\Windows", true, 0},
      {u"\\\\Windows\\App\\", true, 0},
      {u"\\windows", false, plat::kErrorAlreadyExists},
      {u"\\f.txt", false, plat::kErrorAlreadyExists},
      {u"\\Missing\\Sub", false, plat::kErrorPathNotFound},
      {u"\\a<b", false, plat::kErrorInvalidName},
      {u"\\a|b", false, plat::kErrorInvalidName},
      {u"", false, plat::kErrorPathNotFound},
  };
  for (const DirCase& c : cases) {
    plat::SetLastErrorCode(0);
    EXPECT_EQ(plat::MakeDirectory(c.path), c.ok) << c.error;
    if (!c.ok) {
      EXPECT_EQ(plat::LastError(), c.error);
    }
  }
  EXPECT_TRUE(fake::IsDirectory(u"\\Windows\\App"));
  const auto calls = fake::CallsOf("MakeDirectory");
  ASSERT_EQ(calls.size(), cases.size());
  EXPECT_EQ(calls[1].text, u"\\\\Windows\\App\\");
  EXPECT_TRUE(calls[1].ok);
  EXPECT_FALSE(calls[2].ok);
}

TEST_F(FakeTest, FindPatterns) {
  fake::AddFile(u"\\pkg\\b.txt", "");
  fake::AddFile(u"\\pkg\\A.txt", "");
  fake::AddFile(u"\\pkg\\c.dll", "");
  fake::AddFile(u"\\pkg\\noext", "");
  fake::AddDirectory(u"\\pkg\\Sub");
  struct FindCase {
    const char16_t* pattern;
    std::vector<std::u16string> names;
    std::uint32_t error;
  };
  const std::vector<FindCase> cases = {
      {u"\\pkg\\*", {u"A.txt", u"b.txt", u"c.dll", u"noext", u"Sub"}, 0},
      {u"\\PKG\\*.TXT", {u"A.txt", u"b.txt"}, 0},
      {u"\\pkg\\?.txt", {u"A.txt", u"b.txt"}, 0},
      {u"\\pkg\\*.*", {u"A.txt", u"b.txt", u"c.dll", u"noext", u"Sub"}, 0},
      {u"\\pkg\\c*", {u"c.dll"}, 0},
      {u"\\pkg\\*.exe", {}, plat::kErrorFileNotFound},
      {u"\\none\\*", {}, plat::kErrorPathNotFound},
  };
  for (const FindCase& c : cases) {
    plat::FindData data{};
    plat::Find* find = plat::FindFirst(c.pattern, &data);
    std::vector<std::u16string> names;
    std::vector<std::uint32_t> attributes;
    if (find == nullptr) {
      EXPECT_EQ(plat::LastError(), c.error);
    } else {
      do {
        names.emplace_back(data.name);
        attributes.push_back(data.attributes);
      } while (plat::FindNextMatch(find, &data));
      EXPECT_TRUE(plat::FindEnd(find));
    }
    EXPECT_EQ(names, c.names);
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(attributes[i], names[i] == u"Sub" ? 0x10u : 0x80u);
    }
  }
}

TEST_F(FakeTest, FailureInjectionByOccurrenceAndPath) {
  fake::AddFile(u"\\a.txt", "a");
  fake::AddFile(u"\\b.txt", "b");
  fake::InjectFailure({"FileOpenRead", 32, 2, u"\\A.TXT"});
  std::vector<bool> opened;
  for (const char16_t* path : {u"\\a.txt", u"\\b.txt", u"\\a.txt", u"\\a.txt"}) {
    plat::File* f = plat::FileOpenRead(path);
    opened.push_back(f != nullptr);
    if (f == nullptr) {
      EXPECT_EQ(plat::LastError(), 32u);
    }
    plat::FileClose(f);
  }
  EXPECT_EQ(opened, (std::vector<bool>{true, true, false, true}));
  EXPECT_FALSE(fake::CallsOf("FileOpenRead")[2].ok);

  fake::InjectFailure({"FileWrite", 29, 0, u"\\out.bin"});
  plat::File* out = plat::FileCreateWrite(u"\\out.bin");
  EXPECT_FALSE(Write(out, "x"));
  EXPECT_FALSE(Write(out, "y"));
  EXPECT_EQ(plat::LastError(), 29u);
  plat::FileClose(out);
  EXPECT_EQ(fake::FileContents(u"\\out.bin"), "");
}

TEST_F(FakeTest, PausedRecordingLogsAndFailsNothingUntilReset) {
  fake::AddFile(u"\\a.txt", "line\n");
  fake::InjectFailure({"StreamReadLine", 5, 0, {}});
  fake::InjectFailure({"FileOpenRead", 5, 0, {}});
  fake::PauseCallRecording();
  plat::Stream* s = plat::StreamOpen(u"\\a.txt", u"rt");
  char16_t line[16];
  EXPECT_NE(plat::StreamReadLine(line, 16, s), nullptr);
  plat::StreamClose(s);
  plat::File* f = plat::FileOpenRead(u"\\a.txt");
  EXPECT_NE(f, nullptr);
  plat::FileClose(f);
  EXPECT_TRUE(fake::Calls().empty());

  fake::Reset();
  fake::AddFile(u"\\a.txt", "line\n");
  fake::InjectFailure({"FileOpenRead", 5, 0, {}});
  EXPECT_EQ(plat::FileOpenRead(u"\\a.txt"), nullptr);
  s = plat::StreamOpen(u"\\a.txt", u"rt");
  EXPECT_NE(plat::StreamReadLine(line, 16, s), nullptr);
  plat::StreamClose(s);
  EXPECT_EQ(fake::CallsOf("StreamReadLine").size(), 1u);
}

TEST_F(FakeTest, RegistryInjectionReturnsAndSetsTheError) {
  fake::InjectFailure({"RegKeyCreate", 5, 1, u""});
  plat::RegKey key = 0;
  std::uint32_t disposition = 0;
  EXPECT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, u"Software\\A", 0xF003F, &key, &disposition), 5);
  EXPECT_EQ(plat::LastError(), 5u);
  EXPECT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, u"Software\\A", 0xF003F, &key, &disposition), 0);
  EXPECT_EQ(disposition, 1u);
}

TEST_F(FakeTest, Registry) {
  plat::RegKey key = 0;
  std::uint32_t disposition = 0;
  ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, u"Software\\Vendor\\App", 0xF003F, &key, &disposition), 0);
  EXPECT_EQ(disposition, 1u);
  const std::string bytes("\x0a\0\0\0", 4);
  EXPECT_EQ(plat::RegValueSet(key, u"Count", 4, bytes.data(), 4), 0);
  EXPECT_EQ(plat::RegKeyClose(key), 0);
  ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, u"SOFTWARE\\vendor", 0xF003F, &key, &disposition), 0);
  EXPECT_EQ(disposition, 2u);
  EXPECT_EQ(plat::RegValueSet(key, u"", 1, u"v", 4), 0);
  plat::RegKeyClose(key);
  EXPECT_NE(plat::RegKeyClose(key), 0);

  EXPECT_TRUE(fake::RegKeyExists(u"HKEY_LOCAL_MACHINE\\software\\VENDOR\\app"));
  EXPECT_FALSE(fake::RegKeyExists(u"HKEY_CURRENT_USER\\Software"));
  const auto count = fake::GetRegValue(u"HKEY_LOCAL_MACHINE\\Software\\Vendor\\App", u"count");
  ASSERT_TRUE(count.has_value());
  EXPECT_EQ(count->type, 4u);
  EXPECT_EQ(count->data, bytes);
  EXPECT_EQ(fake::GetRegValue(u"HKEY_LOCAL_MACHINE\\Software\\Vendor", u"")->data, std::string("v\0\0\0", 4));
  EXPECT_FALSE(fake::GetRegValue(u"HKEY_LOCAL_MACHINE\\Software\\Vendor", u"Count").has_value());

  const auto creates = fake::CallsOf("RegKeyCreate");
  EXPECT_EQ(creates[0].text, u"HKEY_LOCAL_MACHINE\\Software\\Vendor\\App");
  const auto sets = fake::CallsOf("RegValueSet");
  EXPECT_EQ(sets[0].text, u"HKEY_LOCAL_MACHINE\\Software\\Vendor\\App");
  EXPECT_EQ(sets[0].text2, u"Count");
  EXPECT_EQ(sets[0].number, 4);
}

// The fake refuses what a device's registry refuses, with the same errors,
// and makes nothing of a refused path.
TEST_F(FakeTest, RegistryRefusesWhatADeviceRefuses) {
  const std::u16string name255(255, u'k'), name256(256, u'k');
  struct KeyCase {
    std::u16string subKey;
    std::int32_t result;
  };
  const KeyCase keys[] = {
      {u"A\\\\" + name255, 0},
      {u"A\\" + name256 + u"\\B", 87},
      {name256, 87},
      {u"\\Software\\B", 161},
  };
  for (const KeyCase& k : keys) {
    plat::RegKey key = 0;
    plat::SetLastErrorCode(0);
    EXPECT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, k.subKey.c_str(), 0, &key, nullptr), k.result)
        << k.subKey.size();
    EXPECT_EQ(plat::LastError(), static_cast<std::uint32_t>(k.result));
    if (k.result == 0) plat::RegKeyClose(key);
  }
  EXPECT_FALSE(fake::RegKeyExists(u"HKEY_LOCAL_MACHINE\\Software"));
  EXPECT_TRUE(fake::RegKeyExists(u"HKEY_LOCAL_MACHINE\\A"));

  plat::RegKey key = 0;
  ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, u"V", 0, &key, nullptr), 0);
  const std::u16string longest(16383, u'v'), tooLong(16384, u'v');
  const std::uint8_t byte = 7;
  EXPECT_EQ(plat::RegValueSet(key, longest.c_str(), 3, &byte, 1), 0);
  EXPECT_EQ(plat::RegValueSet(key, tooLong.c_str(), 3, &byte, 1), 87);
  EXPECT_EQ(plat::RegValueSet(key, u"none", 3, nullptr, 1), 998);
  EXPECT_EQ(plat::RegValueSet(key, u"empty", 3, nullptr, 0), 0);
  plat::RegKeyClose(key);
  EXPECT_TRUE(fake::GetRegValue(u"HKEY_LOCAL_MACHINE\\V", longest).has_value());
  EXPECT_FALSE(fake::GetRegValue(u"HKEY_LOCAL_MACHINE\\V", tooLong).has_value());
  EXPECT_FALSE(fake::GetRegValue(u"HKEY_LOCAL_MACHINE\\V", u"none").has_value());
}

TEST_F(FakeTest, ModuleFileNameHonoursCapacity) {
  char16_t buffer[plat::kMaxPath];
  EXPECT_EQ(plat::ModuleFileName(buffer, plat::kMaxPath), 21u);
  EXPECT_EQ(std::u16string(buffer), u"\\Windows\\BrixCopy.exe");
  fake::SetModulePath(u"\\A.exe");
  EXPECT_EQ(plat::ModuleFileName(buffer, 7), 6u);
  EXPECT_EQ(std::u16string(buffer), u"\\A.exe");
  buffer[0] = u'Z';
  EXPECT_EQ(plat::ModuleFileName(buffer, 6), 0u);
  EXPECT_EQ(plat::LastError(), 122u);
  EXPECT_EQ(buffer[0], u'Z');
}

std::int32_t RegisterOk() { return 0; }

TEST_F(FakeTest, Libraries) {
  fake::AddLibrary(u"\\Windows\\good.dll", {{u"DllRegisterServer", &RegisterOk}});
  fake::AddFile(u"\\Windows\\plain.dll", "MZ");
  plat::Module* m = plat::LibraryLoad(u"\\windows\\GOOD.dll");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(plat::LibraryExport(m, u"DllRegisterServer"), &RegisterOk);
  EXPECT_EQ(plat::LibraryExport(m, u"dllregisterserver"), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorProcNotFound);
  EXPECT_TRUE(plat::LibraryFree(m));
  EXPECT_EQ(plat::LibraryLoad(u"\\Windows\\missing.dll"), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorModNotFound);
  EXPECT_EQ(plat::LibraryLoad(u"\\Windows\\plain.dll"), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorBadExeFormat);
}

TEST_F(FakeTest, ProgramsRunInsideTheStartCall) {
  std::vector<std::optional<std::u16string>> seen;
  fake::AddProgram(u"\\Windows\\wceload.exe", [&](const std::optional<std::u16string>& line) {
    seen.push_back(line);
    fake::AddFile(u"\\ran.txt", "1");
    return 0u;
  });
  EXPECT_TRUE(fake::FileContents(u"\\Windows\\wceload.exe").has_value());
  plat::Object* p1 = plat::ProcessStart(u"\\Windows\\wceload.exe", u"\\a.cab");
  plat::Object* p2 = plat::ProcessStart(u"\\windows\\WCELOAD.exe", nullptr);
  plat::Object* p3 = plat::ProcessStart(u"\\Windows\\wceload.exe", u"");
  ASSERT_NE(p1, nullptr);
  EXPECT_EQ(plat::WaitObject(p1, plat::kInfinite), plat::kWaitObject0);
  EXPECT_EQ(seen, (std::vector<std::optional<std::u16string>>{u"\\a.cab", std::nullopt, u""}));
  EXPECT_TRUE(plat::ObjectClose(p1));
  EXPECT_TRUE(plat::ObjectClose(p2));
  EXPECT_TRUE(plat::ObjectClose(p3));
  EXPECT_EQ(plat::ProcessStart(u"\\Windows\\other.exe", nullptr), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  const auto starts = fake::CallsOf("ProcessStart");
  ASSERT_EQ(starts.size(), 4u);
  EXPECT_EQ(starts[0].text2, u"\\a.cab");
  EXPECT_TRUE(starts[0].hasText2);
  EXPECT_FALSE(starts[1].hasText2);
  EXPECT_FALSE(starts[3].ok);
  // The start is recorded before what the program does.
  EXPECT_EQ(fake::Calls()[0].op, "ProcessStart");
}

std::atomic<bool> gRelease{false};
std::uint32_t WaitForRelease(void*) {
  while (!gRelease) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 7;
}

TEST_F(FakeTest, ThreadWaits) {
  gRelease = false;
  fake::SetThreadWaitTimeouts(2);
  plat::Object* t = plat::ThreadStart(&WaitForRelease, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(plat::WaitObject(t, 500), plat::kWaitTimeout);
  EXPECT_EQ(plat::WaitObject(t, 500), plat::kWaitTimeout);
  // From now on waits are real: still running, so a short wait times out.
  EXPECT_EQ(plat::WaitObject(t, 5), plat::kWaitTimeout);
  gRelease = true;
  EXPECT_EQ(plat::WaitObject(t, plat::kInfinite), plat::kWaitObject0);
  EXPECT_EQ(plat::WaitObject(t, 500), plat::kWaitObject0);
  EXPECT_TRUE(plat::ObjectClose(t));
  EXPECT_EQ(plat::WaitObject(t, 0), plat::kWaitFailed);
  const auto waits = fake::CallsOf("WaitObject");
  ASSERT_EQ(waits.size(), 6u);
  EXPECT_EQ(waits[0].number, 500);
  EXPECT_EQ(waits[3].number, plat::kInfinite);
}

TEST_F(FakeTest, NamedMutex) {
  plat::Object* m1 = plat::MutexCreateNamed(u"BrixCopy", true);
  ASSERT_NE(m1, nullptr);
  EXPECT_EQ(plat::LastError(), 0u);
  plat::Object* m2 = plat::MutexCreateNamed(u"BrixCopy", true);
  ASSERT_NE(m2, nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorAlreadyExists);
  fake::SetMutexHeldElsewhere(u"Other");
  EXPECT_NE(plat::MutexCreateNamed(u"Other", true), nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorAlreadyExists);
}

TEST_F(FakeTest, LastErrorIsPerThread) {
  plat::SetLastErrorCode(5);
  std::uint32_t other = 1;
  std::thread([&] { other = plat::LastError(); }).join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(plat::LastError(), 5u);
}

std::intptr_t NoMessages(plat::Window*, std::uint32_t, std::uintptr_t, std::intptr_t) { return 0; }

TEST_F(FakeTest, ProgressDialog) {
  EXPECT_EQ(plat::DialogTemplateLoad(nullptr, 102), nullptr);
  EXPECT_EQ(plat::LastError(), 1812u);
  const plat::DialogTemplate* tmpl = plat::DialogTemplateLoad(nullptr, 101);
  ASSERT_NE(tmpl, nullptr);
  plat::Window* dialog = plat::DialogCreate(nullptr, tmpl, &NoMessages, 0);
  ASSERT_NE(dialog, nullptr);
  plat::Window* dashes = plat::DialogItem(dialog, 1000);
  ASSERT_NE(dashes, nullptr);
  EXPECT_NE(plat::DialogItem(dialog, -1), nullptr);
  EXPECT_EQ(plat::DialogItem(dialog, 5), nullptr);
  EXPECT_TRUE(plat::WindowSetText(dashes, u"--"));
  EXPECT_TRUE(plat::WindowRepaint(dialog));
  EXPECT_TRUE(plat::WindowDestroy(dialog));
  EXPECT_FALSE(plat::WindowSetText(dashes, u"---"));
  plat::CursorSet(nullptr, 32514);
  const auto texts = fake::CallsOf("WindowSetText");
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, u"--");
  EXPECT_EQ(texts[0].number, 1000);
  EXPECT_FALSE(texts[1].ok);
  EXPECT_EQ(fake::CallsOf("WindowDestroy").size(), 1u);
  EXPECT_EQ(fake::CallsOf("CursorSet").at(0).number, 32514);
}

TEST_F(FakeTest, DebugTextAsUtf8) {
  plat::DebugOutput(u"caf\u00E9 ");
  plat::DebugOutput(u"\U0001F600\r\n");
  EXPECT_EQ(fake::DebugText(), u"caf\u00E9 \U0001F600\r\n");
  EXPECT_EQ(fake::DebugTextUtf8(), "caf\xC3\xA9 \xF0\x9F\x98\x80\r\n");
  EXPECT_EQ(fake::CallsOf("DebugOutput").size(), 2u);
}

}  // namespace
