// Fuzz target: the install script line parser, against the line grammar worked
// out independently here: fields between apostrophes, a relative source placed
// below the package directory and appended to the destination, options from
// the first "-" behind the last field, and for a malformed line exactly one
// message naming the line. Every output stays inside its 260-unit buffer.
//
// Input: byte 0 chooses the package directory; the rest is the line.
#include <cstdint>
#include <string>

#include "installer/inf_line.h"
#include "installer/messages.h"
#include "platform/fake/fake.h"
#include "platform/wstr.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using brixcopy::kPathChars;
constexpr std::size_t npos = std::u16string::npos;
constexpr std::size_t kMaxText = kPathChars - 1;
constexpr char16_t kCanary = 0x5A5A;
constexpr std::size_t kGuard = 8;

struct Outcome {
  int result = 0;
  std::u16string debug;
  std::u16string source, destination, options;
  bool resolved = false;
  bool operator==(const Outcome&) const = default;
};

Outcome Malformed(const char16_t* reason, const std::u16string& line) {
  Outcome out;
  out.debug = u"BrixCopy: Invalid INF line (" + std::u16string(reason) + u"):\r\n" + line + u"\r\n";
  return out;
}

Outcome Expected(const std::u16string& line, const std::u16string& package) {
  const std::size_t sourceOpen = line.find(u'\'');
  if (sourceOpen == npos) return Malformed(u"no source starting quote", line);
  const std::size_t sourceClose = line.find(u'\'', sourceOpen + 1);
  if (sourceClose == npos) return Malformed(u"no source ending quote", line);
  const std::u16string source = line.substr(sourceOpen + 1, sourceClose - sourceOpen - 1);
  if (source.size() > kMaxText) return Malformed(u"path too long", line);
  Outcome out;
  out.result = 1;
  out.source = source;
  out.destination = u"\\";
  std::size_t lastClose = sourceClose;
  const std::size_t destinationOpen = line.find(u'\'', sourceClose + 1);
  if (destinationOpen != npos) {
    const std::size_t destinationClose = line.find(u'\'', destinationOpen + 1);
    if (destinationClose == npos) return Malformed(u"no destination ending quote", line);
    lastClose = destinationClose;
    out.destination = line.substr(destinationOpen + 1, destinationClose - destinationOpen - 1);
    if (out.destination.size() > kMaxText) return Malformed(u"path too long", line);
    if (source.empty() || source[0] != u'\\') {
      const bool packageEnds = !package.empty() && package.back() == u'\\';
      out.source = package + (packageEnds ? u"" : u"\\") + source;
      const bool destinationEnds = !out.destination.empty() && out.destination.back() == u'\\';
      out.destination += (destinationEnds ? u"" : u"\\") + source;
      out.resolved = true;
      if (out.source.size() > kMaxText || out.destination.size() > kMaxText)
        return Malformed(u"path too long", line);
    }
  }
  const std::size_t dash = line.find(u'-', lastClose + 1);
  if (dash != npos) out.options = line.substr(dash);
  if (out.options.size() > kMaxText) return Malformed(u"path too long", line);
  return out;
}

// A 260-unit buffer between guard units, all preset to a canary.
struct Guarded {
  char16_t units[kGuard + kPathChars + kGuard];
  Guarded() {
    for (char16_t& u : units) u = kCanary;
  }
  char16_t* buffer() { return units + kGuard; }
  // Checks the guards around the buffer.
  void CheckGuards(const char* name) const {
    for (std::size_t i = 0; i < kGuard; ++i) {
      FUZZ_CHECK(units[i] == kCanary, std::string(name) + ": written before its buffer");
      FUZZ_CHECK(units[kGuard + kPathChars + i] == kCanary,
                 std::string(name) + ": written beyond its buffer");
    }
  }
  // The text in the buffer, which must hold its terminator.
  std::u16string Text(const char* name) {
    std::size_t length = 0;
    while (length < kPathChars && buffer()[length] != 0) ++length;
    FUZZ_CHECK(length < kPathChars, std::string(name) + ": no terminator in its buffer");
    return std::u16string(buffer(), length);
  }
};

std::u16string PackageDir(std::uint8_t choice) {
  switch (choice % 6) {
    case 0: return u"\\Windows\\BrixCopy";
    case 1: return u"\\BrixCopy";
    case 2: return u"";  // left empty when the executable's folder is too long
    case 3: return u"\\Pkg\\";
    case 4: return u"\\" + std::u16string(200, u'p');
    default: return u"\\" + std::u16string(kMaxText - 1, u'q');
  }
}

std::string Describe(const Outcome& o) {
  if (o.result == 0) return "0, message \"" + fuzz::Show(o.debug) + "\"";
  return "1, source \"" + fuzz::Show(o.source) + "\", destination \"" + fuzz::Show(o.destination) +
         "\", options \"" + fuzz::Show(o.options) + "\", resolved " + (o.resolved ? "yes" : "no") +
         (o.debug.empty() ? "" : ", message \"" + fuzz::Show(o.debug) + "\"");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::u16string line = fuzz::UnitsFromBytes(data + 1, size - 1);
  line.resize(wstr::Len(line.c_str()));  // the parser sees the text up to its terminator
  const std::u16string package = PackageDir(data[0]);
  plat::fake::Reset();
  FUZZ_CHECK(package.size() < kPathChars, "package directory");

  Guarded source, destination, options;
  bool resolved = false;
  Outcome got;
  got.result = brixcopy::ParseInfLine(line.c_str(), package.c_str(), source.buffer(), destination.buffer(),
                                      options.buffer(), &resolved);
  got.debug = plat::fake::DebugText();
  // The outputs of a malformed line are unspecified, but still bounded.
  source.CheckGuards("source");
  destination.CheckGuards("destination");
  options.CheckGuards("options");
  if (got.result == 1) {
    got.source = source.Text("source");
    got.destination = destination.Text("destination");
    got.options = options.Text("options");
    got.resolved = resolved;
  }
  const Outcome want = Expected(line, package);
  FUZZ_CHECK(got == want, "line \"" + fuzz::Show(line) + "\" in \"" + fuzz::Show(package) + "\": got " +
                              Describe(got) + "; the grammar gives " + Describe(want));
  return 0;
}
