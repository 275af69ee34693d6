// Checks of the Win32 backend on a real (or Wine) Windows host, run as a
// program from the device drive: each check prints "ok NAME" or
// "FAIL NAME: what" to the debug output; the exit code counts the failures.
// Expects recorder.exe and testreg.dll in \Tests beside it.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

using plat::DebugPrint;

constexpr std::uint32_t kAllAccess = 0xF003F;

std::u16string Read(const char16_t* path) {
  plat::File* file = plat::FileOpenRead(path);
  if (file == nullptr) return u"<missing>";
  std::string bytes;
  char buffer[256];
  std::uint32_t got = 0;
  while (plat::FileRead(file, buffer, sizeof buffer, &got) && got > 0) bytes.append(buffer, got);
  plat::FileClose(file);
  return std::u16string(bytes.begin(), bytes.end());  // ASCII content only
}

bool Write(const char16_t* path, const char* text) {
  plat::File* file = plat::FileCreateWrite(path);
  if (file == nullptr) return false;
  std::uint32_t written = 0;
  const auto size = static_cast<std::uint32_t>(std::char_traits<char>::length(text));
  const bool ok = plat::FileWrite(file, text, size, &written) && written == size;
  return plat::FileClose(file) && ok;
}

// Every name a search yields, with 'd' or 'f' for its kind.
std::vector<std::u16string> Search(const char16_t* pattern) {
  std::vector<std::u16string> names;
  plat::FindData data{};
  plat::Find* find = plat::FindFirst(pattern, &data);
  if (find == nullptr) return names;
  do {
    names.push_back(std::u16string(data.name) + (data.attributes == 0x10 ? u"/d" : u"/f"));
  } while (plat::FindNextMatch(find, &data));
  plat::FindEnd(find);
  return names;
}

std::u16string Join(const std::vector<std::u16string>& items) {
  std::u16string out;
  for (const auto& item : items) out += (out.empty() ? u"" : u",") + item;
  return out;
}

struct Failure {
  std::u16string what;
};

// Collects the first mismatch of a check.
class Expect {
 public:
  void Equal(const std::u16string& actual, const std::u16string& expected, const char16_t* label) {
    if (failed_ || actual == expected) return;
    message_ = std::u16string(label) + u": got '" + actual + u"', want '" + expected + u"'";
    failed_ = true;
  }
  void Number(std::int64_t actual, std::int64_t expected, const char16_t* label) {
    Equal(Digits(actual), Digits(expected), label);
  }
  void True(bool condition, const char16_t* label) {
    if (!failed_ && !condition) {
      message_ = label;
      failed_ = true;
    }
  }
  bool failed() const { return failed_; }
  const std::u16string& message() const { return message_; }

 private:
  static std::u16string Digits(std::int64_t v) {
    const std::string s = std::to_string(v);
    return std::u16string(s.begin(), s.end());
  }
  bool failed_ = false;
  std::u16string message_;
};

void ModulePath(Expect& e) {
  char16_t path[plat::kMaxPath];
  e.True(plat::ModuleFileName(path, plat::kMaxPath) > 0, u"no module path");
  e.Equal(path, u"\\Tests\\backend_check.exe", u"device view of the program path");
  char16_t small[8];
  e.Number(plat::ModuleFileName(small, 8), 0, u"a buffer too small is refused");
}

void PathForms(Expect& e) {
  e.True(plat::MakeDirectory(u"\\\\Made"), u"\\\\Made is the folder Made, not a server");
  e.True(plat::MakeDirectory(u"Rel"), u"a relative folder is made from the root");
  e.Equal(Join(Search(u"\\Made")), u"Made/d", u"\\\\Made");
  e.Equal(Join(Search(u"\\\\\\Rel")), u"Rel/d", u"Rel");
  const std::u16string tooLong = u"\\" + std::u16string(600, u'x');
  e.True(plat::FileOpenRead(tooLong.c_str()) == nullptr, u"over-long path opened");
  e.Number(plat::LastError(), 206, u"over-long path error");
}

void Searches(Expect& e) {
  plat::MakeDirectory(u"\\Dir");
  plat::MakeDirectory(u"\\Dir\\sub");
  e.True(Write(u"\\Dir\\a.txt", "a") && Write(u"\\Dir\\b.bin", "b"), u"files not written");
  std::vector<std::u16string> all = Search(u"\\Dir\\*");
  e.Number(static_cast<std::int64_t>(all.size()), 3, u"entries without . and ..");
  for (const auto& name : all) e.True(name[0] != u'.', u"a dot entry was listed");
  e.Equal(Join(Search(u"\\Dir\\*.txt")), u"a.txt/f", u"pattern");
  plat::MakeDirectory(u"\\Empty");
  e.True(Search(u"\\Empty\\*").empty(), u"empty folder listed something");
  e.Number(plat::LastError(), 2, u"empty folder error");
  e.True(Search(u"\\NoSuchDir\\*").empty(), u"missing folder listed something");
  e.Number(plat::LastError(), 3, u"missing folder error");
}

void Files(Expect& e) {
  e.True(Write(u"\\f.txt", "hello"), u"write");
  e.Equal(Read(u"\\f.txt"), u"hello", u"content");
  plat::File* first = plat::FileOpenRead(u"\\f.txt");
  e.True(first != nullptr, u"open");
  e.True(plat::FileOpenRead(u"\\f.txt") == nullptr, u"a file opened without sharing was opened twice");
  e.Number(plat::LastError(), 32, u"sharing violation");
  if (first != nullptr) plat::FileClose(first);
  e.True(plat::FileOpenRead(u"\\nope.txt") == nullptr, u"missing file opened");
  e.Number(plat::LastError(), 2, u"missing file error");
  e.True(plat::FileCreateWrite(u"\\NoDir\\x.txt") == nullptr, u"created in a missing folder");
  e.Number(plat::LastError(), 3, u"missing folder error");
  e.True(plat::FileDelete(u"\\F.TXT"), u"delete, in another case");
  e.True(plat::FileOpenRead(u"\\f.txt") == nullptr, u"a deleted file opened");
  e.True(!plat::FileDelete(u"\\f.txt"), u"a deleted file deleted again");
  e.Number(plat::LastError(), 2, u"delete of a missing file");
}

void Libraries(Expect& e) {
  plat::Module* lib = plat::LibraryLoad(u"\\Tests\\testreg.dll");
  e.True(lib != nullptr, u"load");
  if (lib == nullptr) return;
  plat::ExportProc proc = plat::LibraryExport(lib, u"DllRegisterServer");
  e.True(proc != nullptr && proc() == 0, u"registration export");
  e.Equal(Read(u"\\Tests\\testreg.dll.registered"), u"registered\n", u"export ran");
  e.True(plat::LibraryExport(lib, u"DllRegisterServ\u00e9r") == nullptr, u"non-ASCII name found");
  e.Number(plat::LastError(), 127, u"non-ASCII name error");
  e.True(plat::LibraryExport(lib, u"Missing") == nullptr, u"missing export found");
  e.True(plat::LibraryFree(lib), u"free");
  e.True(plat::LibraryLoad(u"\\Tests\\none.dll") == nullptr, u"missing library loaded");
  e.Number(plat::LastError(), 126, u"missing library error");
}

void Processes(Expect& e) {
  const struct {
    const char16_t* commandLine;
    const char16_t* recorded;
  } cases[] = {
      {nullptr, u""},
      {u"", u""},
      {u"-k", u"-k"},
      {u"\"\\Program Files\\a b\" /x \\\\y", u"\"\\Program Files\\a b\" /x \\\\y"},
  };
  for (const auto& c : cases) {
    plat::Object* process = plat::ProcessStart(u"\\Tests\\recorder.exe", c.commandLine);
    e.True(process != nullptr, u"start");
    if (process == nullptr) return;
    e.Number(plat::WaitObject(process, plat::kInfinite), plat::kWaitObject0, u"wait");
    plat::ObjectClose(process);
    e.Equal(Read(u"\\Tests\\recorder.exe.cmdline"), c.recorded, u"command line received");
  }
  e.True(plat::ProcessStart(u"\\nothere.exe", nullptr) == nullptr, u"missing program started");
  e.Number(plat::LastError(), 2, u"missing program error");
}

std::atomic<bool> release{false};

std::uint32_t Worker(void* parameter) {
  while (!release.load()) {
  }
  return *static_cast<std::uint32_t*>(parameter);
}

void Sync(Expect& e) {
  plat::Object* mutex = plat::MutexCreateNamed(u"BrixBackendCheck", true);
  e.True(mutex != nullptr, u"mutex");
  e.Number(plat::LastError(), 0, u"new mutex error");
  plat::Object* again = plat::MutexCreateNamed(u"BrixBackendCheck", true);
  e.True(again != nullptr, u"existing mutex");
  e.Number(plat::LastError(), 183, u"existing mutex error");
  static std::uint32_t code = 7;
  plat::Object* thread = plat::ThreadStart(Worker, &code);
  e.True(thread != nullptr, u"thread");
  if (thread != nullptr) {
    e.Number(plat::WaitObject(thread, 20), plat::kWaitTimeout, u"busy thread wait");
    release.store(true);
    e.Number(plat::WaitObject(thread, plat::kInfinite), plat::kWaitObject0, u"ended thread wait");
    plat::ObjectClose(thread);
  }
  e.Number(plat::WaitObject(nullptr, 0), static_cast<std::int64_t>(plat::kWaitFailed), u"bad handle wait");
}

void Registry(Expect& e) {
  plat::RegKey key = 0;
  std::uint32_t disposition = 0;
  e.Number(plat::RegKeyCreate(plat::kHkeyCurrentUser, u"Software\\BrixBackendCheck\\A", kAllAccess, &key,
                              &disposition),
           0, u"create");
  e.Number(disposition, 1, u"created new");
  const std::uint32_t value = 0x1234;
  e.Number(plat::RegValueSet(key, u"n", 4, &value, 4), 0, u"set");
  e.Number(plat::RegKeyClose(key), 0, u"close");
  e.Number(plat::RegKeyCreate(plat::kHkeyCurrentUser, u"Software\\BrixBackendCheck\\A", kAllAccess, &key,
                              &disposition),
           0, u"open");
  e.Number(disposition, 2, u"opened existing");
  plat::RegKeyClose(key);
  const std::int32_t bad = plat::RegKeyCreate(0, u"X", kAllAccess, &key, &disposition);
  e.True(bad != 0, u"a key below no root was created");
  e.Number(plat::LastError(), bad, u"failing result left as last error");
  // What the registry refuses, with the codes the device simulator gives too.
  const std::u16string longName = u"Software\\BrixBackendCheck\\" + std::u16string(300, u'k');
  e.Number(plat::RegKeyCreate(plat::kHkeyCurrentUser, longName.c_str(), kAllAccess, &key, &disposition), 87,
           u"key name of 300 characters");
  e.Number(plat::RegKeyCreate(plat::kHkeyCurrentUser, u"\\Software\\BrixBackendCheck", kAllAccess, &key,
                              &disposition),
           161, u"leading backslash");
  e.Number(plat::RegKeyCreate(plat::kHkeyCurrentUser, u"Software\\BrixBackendCheck\\A", kAllAccess, &key,
                              &disposition),
           0, u"open again");
  const std::u16string longValue(16384, u'v');
  e.Number(plat::RegValueSet(key, longValue.c_str(), 4, &value, 4), 87, u"value name of 16384 characters");
  e.Number(plat::RegValueSet(key, u"n", 4, nullptr, 4), 998, u"no data");
  e.Number(plat::RegKeyClose(key), 0, u"close again");
  e.Number(plat::RegKeyClose(key), 6, u"close of a closed key");
  e.Number(plat::LastError(), 6, u"failing close left as last error");
}

}  // namespace

int plat::AppMain(plat::Module*, const char16_t*) {
  const struct {
    const char16_t* name;
    void (*run)(Expect&);
  } checks[] = {
      {u"module_path", ModulePath}, {u"path_forms", PathForms}, {u"searches", Searches},
      {u"files", Files},            {u"libraries", Libraries},  {u"processes", Processes},
      {u"sync", Sync},              {u"registry", Registry},
  };
  int failures = 0;
  for (const auto& check : checks) {
    Expect expect;
    check.run(expect);
    if (expect.failed()) {
      ++failures;
      DebugPrint(u"FAIL %s: %s\r\n", check.name, expect.message().c_str());
    } else {
      DebugPrint(u"ok %s\r\n", check.name);
    }
  }
  return failures;
}
