// Each failure message of the installer and the importer begins with a text of
// its own; the lines they quote (a malformed script line) are passed over, and
// a copy that failed inside a wildcard line counts once, though both the copy
// and the wildcard line write a message for it.
#include "brixdev/device/install_failures.h"

#include <string_view>

namespace brixdev {
namespace {

struct Known {
  std::string_view begins;
  FailureKind kind;
  bool quotesLine;  // the script line follows on the next line
};

constexpr Known kMessages[] = {
    {"BrixCopy: cannot open source file: ", FailureKind::kCopy, false},
    {"BrixCopy: cannot create destination file: ", FailureKind::kCopy, false},
    {"BrixCopy: cannot read source file: ", FailureKind::kCopy, false},
    {"BrixCopy: cannot write destination file: ", FailureKind::kCopy, false},
    {"BrixCopy: Failed to copy file: ", FailureKind::kFolder, false},
    {"BrixCopy: Invalid INF line (", FailureKind::kScript, true},
    {"BrixCopy: Error Reading INF file: ", FailureKind::kScript, false},
    {"BrixCopy: Can't find INF file: ", FailureKind::kScript, false},
    {"BrixCopy: Invalid INF line: missing double quote", FailureKind::kStart, false},
    {"BrixCopy: failed to run: ", FailureKind::kStart, false},
    {"BrixCopy: install failed: ", FailureKind::kStart, false},
    {"BrixCopy: Failed to register file: ", FailureKind::kRegister, false},
    {"BrixCopy: cannot create mutex: ", FailureKind::kRunControl, false},
    {"BrixCopy: cannot create execution counter file: ", FailureKind::kRunControl, false},
    {"BrixCopy: cannot write execution counter file: ", FailureKind::kRunControl, false},
    {"Another instance is running!", FailureKind::kRunControl, false},
    {"CScriptFile::Open::cannot open script = ", FailureKind::kImporter, false},
    {"CBrixparse::ParseFile::cannot read script = ", FailureKind::kImporter, false},
    {"CBrixparse::UpdateRegistry::", FailureKind::kImporter, false},
};

std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::vector<Failure> FailuresIn(const std::string& debugText) {
  std::vector<Failure> failures;
  bool quotedLine = false;  // the next line is a script line quoted by a message
  bool copyFailed = false;  // the last message was a failed copy (its error line may follow)
  std::size_t start = 0;
  while (start < debugText.size()) {
    std::size_t end = debugText.find('\n', start);
    if (end == std::string::npos) end = debugText.size();
    std::string line = debugText.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (quotedLine) {
      quotedLine = false;
      continue;
    }
    const Known* known = nullptr;
    for (const Known& k : kMessages)
      if (std::string_view(line).substr(0, k.begins.size()) == k.begins) known = &k;
    if (known == nullptr) {
      if (line.rfind("GetLastError returned: ", 0) != 0) copyFailed = false;
      continue;
    }
    quotedLine = known->quotesLine;
    // A wildcard line's message about a copy whose own failure was just written is the same failure.
    if (!(known->kind == FailureKind::kFolder && copyFailed)) failures.push_back(Failure{known->kind, line});
    copyFailed = known->kind == FailureKind::kCopy;
  }
  return failures;
}

std::string FailureSummary(const std::vector<Failure>& failures) {
  std::size_t counts[static_cast<int>(FailureKind::kRunControl) + 1] = {};
  for (const Failure& f : failures) ++counts[static_cast<int>(f.kind)];
  const auto n = [&](FailureKind kind) { return counts[static_cast<int>(kind)]; };
  std::vector<std::string> parts;
  if (n(FailureKind::kRunControl) != 0) parts.push_back("the installer did not install (it could not take its mutex or counter file, or another one ran)");
  for (const Failure& f : failures) {
    if (f.kind != FailureKind::kScript) continue;
    parts.push_back(f.message.rfind("BrixCopy: Invalid INF line", 0) == 0   ? "the script stopped at a malformed line"
                    : f.message.rfind("BrixCopy: Error Reading", 0) == 0 ? "the script could not be read to its end"
                                                                          : "the install script was not found");
    break;
  }
  if (n(FailureKind::kCopy) != 0) parts.push_back(Count(n(FailureKind::kCopy), "copy", "copies") + " failed");
  if (n(FailureKind::kFolder) != 0)
    parts.push_back(Count(n(FailureKind::kFolder), "wildcard folder", "wildcard folders") + " failed");
  if (n(FailureKind::kStart) != 0)
    parts.push_back(Count(n(FailureKind::kStart), "program", "programs") + " not started");
  if (n(FailureKind::kRegister) != 0)
    parts.push_back(Count(n(FailureKind::kRegister), "library", "libraries") + " not registered");
  if (n(FailureKind::kImporter) != 0)
    parts.push_back(Count(n(FailureKind::kImporter), "importer report", "importer reports") + " on a registry script");
  std::string summary;
  for (const std::string& part : parts) summary += (summary.empty() ? "" : ", ") + part;
  return summary;
}

const char* FailureWord(FailureKind kind) {
  switch (kind) {
    case FailureKind::kCopy:
      return "copy";
    case FailureKind::kFolder:
      return "folder";
    case FailureKind::kScript:
      return "script";
    case FailureKind::kStart:
      return "start";
    case FailureKind::kRegister:
      return "register";
    case FailureKind::kImporter:
      return "importer";
    case FailureKind::kRunControl:
      return "run-control";
  }
  return "";
}

}  // namespace brixdev
