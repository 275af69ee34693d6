// The line actions of an install script, checked on the check device: copy
// lines are carried out there by the installer's own code (so later lines see
// what they copied), register and run lines are looked at without being
// carried out.
#include <algorithm>

#include "brixdev/checks/decision_findings.h"
#include "brixdev/checks/inf_checker.h"
#include "brixdev/checks/pe_elf_exports.h"
#include "brixdev/device/check_device.h"
#include "brixdev/text.h"
#include "installer/file_ops.h"
#include "installer/launch.h"
#include "installer/line_rules.h"
#include "installer/wildcard_copy.h"
#include "platform/platform.h"

namespace brixdev {
namespace {

using brixcopy::kPathChars;

// More than any program or library of a device needs for its headers and export table.
constexpr std::size_t kReadLimit = std::size_t{64} << 20;

std::string Path(std::u16string_view path) { return Utf8(path); }
std::string Quoted(std::u16string_view text) { return "'" + Utf8(text) + "'"; }

std::string Describe(BinaryKind kind) {
  switch (kind) {
    case BinaryKind::kWindowsProgram:
      return "a Windows program";
    case BinaryKind::kHostProgram:
      return "a program";
    case BinaryKind::kWindowsLibrary:
      return "a Windows library";
    case BinaryKind::kSharedObject:
      return "a library";
    case BinaryKind::kDamaged:
      return "a damaged program or library (its headers do not hold together)";
    case BinaryKind::kOther:
      break;
  }
  return "neither a Windows program or library nor a simulator one";
}

// The binary kind of a device file; kOther also when it cannot be read.
BinaryInfo ReadDeviceBinary(std::u16string_view path, bool* script, CheckDevice* device) {
  if (device != nullptr) device->Prepare(path);
  std::string bytes;
  if (!ReadDeviceFile(path, kReadLimit, &bytes)) return BinaryInfo{};
  *script = bytes.size() >= 2 && bytes[0] == '#' && bytes[1] == '!';
  return ReadBinary(bytes);
}

}  // namespace

void InfChecker::IgnoredDestination(const ParsedLine& line, const char* action) {
  if (!line.hasDestination) return;
  std::string text = std::string(action) + " line copies nothing: its destination is ignored";
  if (line.resolved) text += ", and its relative source is taken from the package: " + Path(line.source);
  Report(line.line, line.destinationColumn, Severity::kWarning, "ignored-destination", text);
}

void InfChecker::Missing(const ParsedLine& line, int column, const char* id, const std::string& subject,
                         const std::string& consequence) {
  std::string text = subject + " is neither on the device nor copied by an earlier line";
  if (lastWaited_ != 0) {
    text += " (the program that line " + std::to_string(lastWaited_) + " waits for may create it)";
  }
  Report(line.line, column, lastWaited_ != 0 ? Severity::kWarning : Severity::kError, id, text + consequence);
}

void InfChecker::Register(const ParsedLine& line) {
  IgnoredDestination(line, "a register");
  const std::u16string& path = line.source;
  const int column = line.sourceColumn;
  switch (LookUp(path)) {
    case EntryKind::kMissing:
      Missing(line, column, "missing-library", "library " + Path(path), ": registering it fails");
      return;
    case EntryKind::kInvalid:
      Report(line.line, column, Severity::kError, "invalid-name",
             Quoted(path) + " is no name the device accepts: registering it fails");
      return;
    case EntryKind::kFolder:
      Report(line.line, column, Severity::kError, "not-a-library",
             Path(path) + " is a folder, not a library: registering it fails");
      return;
    case EntryKind::kFile:
      break;
  }
  bool script = false;
  const BinaryInfo info = ReadDeviceBinary(path, &script, script_.device);
  if (!IsLibrary(info.kind)) {
    Report(line.line, column, Severity::kError, "not-a-library",
           Path(path) + " is " + Describe(info.kind) + ", not a library: registering it fails");
  } else if (std::find(info.exports.begin(), info.exports.end(), "DllRegisterServer") == info.exports.end()) {
    Report(line.line, column, Severity::kError, "no-register-export",
           "library " + Path(path) + " has no DllRegisterServer export: registering it fails");
  }
}

void InfChecker::Run(const ParsedLine& line, bool wait) {
  IgnoredDestination(line, "a run");
  brixcopy::StartPlan plan;
  Decisions planned(line.source.c_str());
  if (!brixcopy::PlanStart(line.source.c_str(), &plan, &planned)) return;  // the parsed source always fits
  const std::u16string& entry = line.source;
  const int column = line.sourceColumn;
  QuotedProgram(line, plan, planned);
  const bool cab = plan.kind == brixcopy::StartKind::kCabInstaller;
  switch (plan.kind) {
    case brixcopy::StartKind::kMissingQuote:
      Report(line.line, column, Severity::kError, "missing-quote",
             "the program path opens a double quote that nothing closes: nothing is started");
      return;
    case brixcopy::StartKind::kCabInstaller:
    case brixcopy::StartKind::kVbLoader: {
      const char* kind = cab ? "CAB package" : "VB application";
      const char* handler = cab ? "CAB installer" : "VB loader";
      const bool named = planned.Find(cab ? brixcopy::Decision::kCabInEntry : brixcopy::Decision::kVbInEntry) == nullptr;
      if (named) {
        Report(line.line, column, Severity::kNote, cab ? "cab-installer" : "vb-loader",
               std::string(kind) + ": the device's " + handler + " " + Path(plan.program) + " gets " +
                   Quoted(entry) + " as its command line");
        if (LookUp(entry) == EntryKind::kMissing) {
          Missing(line, column, "missing-file", std::string(kind) + " " + Path(entry), "");
        }
      } else {
        Report(line.line, column, Severity::kWarning, cab ? "cab-installer" : "vb-loader",
               std::string("the entry holds '") + (cab ? ".cab" : ".vb") + "', so the whole text goes to the device's " +
                   handler + " " + Path(plan.program) + " as its command line: nothing of it is started itself");
      }
      if (!script_.installersAssumed)
        ProgramPresent(line, plan.program, std::string("the device's ") + handler + " " + Path(plan.program), false);
      if (wait) lastWaited_ = line.line;
      return;
    }
    case brixcopy::StartKind::kProgram:
      break;
  }
  const bool present = ProgramPresent(line, plan.program, "program " + Path(plan.program),
                                      planned.Find(brixcopy::Decision::kQuoteNotFirst) != nullptr);
  if (wait) lastWaited_ = line.line;
  if (!present) return;
  if (SameIgnoringCase(BaseName(plan.program), u"Brixparse.exe")) {
    importerRun_(ImporterRun{plan.commandLine, plan.hasCommandLine, line.line, column, &copiedFrom_});
  }
}

bool InfChecker::ProgramPresent(const ParsedLine& line, const std::u16string& program, const std::string& what,
                                bool quoteNotFirst) {
  const int column = line.sourceColumn;
  const std::u16string& entry = line.source;
  std::string quoting;
  if (quoteNotFirst) {
    quoting = " (a double quote anywhere in the entry makes the installer take the text before the second one, "
              "without its first character, as the program path)";
  }
  switch (LookUp(program)) {
    case EntryKind::kMissing: {
      std::string consequence = quoting;
      // An unquoted path with blanks ends at its first blank: say so when the longer path exists.
      for (std::size_t blank = entry.find(u' '); blank != std::u16string::npos; blank = entry.find(u' ', blank + 1)) {
        const std::u16string longer = entry.substr(0, entry.find(u' ', blank + 1));
        if (entry.find(u'"') == std::u16string::npos && LookUp(longer) == EntryKind::kFile) {
          consequence = " (the first blank ends the program path; write \"" + Utf8(longer) + "\" in double quotes)";
          break;
        }
      }
      Missing(line, column, "missing-program", what, consequence + ": starting it fails");
      return false;
    }
    case EntryKind::kInvalid:
      Report(line.line, column, Severity::kError, "invalid-name",
             Quoted(program) + " is no name the device accepts" + quoting + ": starting it fails");
      return false;
    case EntryKind::kFolder:
      Report(line.line, column, Severity::kError, "not-a-program",
             Path(program) + " is a folder, not a program: starting it fails");
      return false;
    case EntryKind::kFile:
      break;
  }
  bool script = false;
  const BinaryInfo info = ReadDeviceBinary(program, &script, script_.device);
  const bool runnable = info.kind == BinaryKind::kWindowsProgram || info.kind == BinaryKind::kHostProgram ||
                        (info.kind == BinaryKind::kOther && script);
  if (!runnable) {
    Report(line.line, column, Severity::kError, "not-a-program",
           Path(program) + " is " + Describe(info.kind) + ", not a program: starting it fails");
    return false;
  }
  return true;
}

bool InfChecker::Copy(const ParsedLine& line) {
  if (brixcopy::IsWildcardSource(line.source.c_str())) return CopyWildcard(line);
  CopyFile(line);
  return true;
}

bool InfChecker::CopyWildcard(const ParsedLine& line) {
  brixcopy::WildcardPlan plan;
  Decisions planned(line.source.c_str());
  if (!brixcopy::PlanWildcardCopy(script_.packageDir.c_str(), line.source.c_str(), line.destination.c_str(),
                                  line.resolved, &plan, &planned)) {
    Report(line.line, line.sourceColumn, Severity::kError, "path-too-long",
           "a path composed for this wildcard is longer than 259 characters: the line is malformed and the "
           "installer stops the script here");
    return false;
  }
  if (planned.Find(brixcopy::Decision::kRelativeWildcard) != nullptr) {
    Report(line.line, line.sourceColumn, Severity::kWarning, "relative-wildcard",
           "relative wildcard: the files of " + Path(plan.sourceDir) + " go to " + Path(plan.targetDir) +
               ", below the destination folder");
  }
  if (const Decisions::Made* slash = planned.Find(brixcopy::Decision::kForwardSlash); slash != nullptr) {
    Report(line.line, line.resolved ? line.sourceColumn : line.sourceColumn + static_cast<int>(slash->offset),
           Severity::kWarning, "forward-slash",
           "the wildcard's folder ends at its last backslash, and '/' divides nothing for the installer: write "
           "device paths with backslashes");
  }
  if (line.noDestination) {
    Report(line.line, line.sourceColumn, Severity::kWarning, "no-destination",
           "the line has no destination: the files go to the root folder \\");
  }
  const auto matches = Matches(plan.pattern);
  std::vector<std::pair<std::u16string, std::u16string>> copies;  // the files the line copies, from and to
  for (const auto& [name, folder] : matches) {
    char16_t from[kPathChars], target[kPathChars];
    if (!brixcopy::MatchPaths(plan, name.c_str(), from, target)) {
      Report(line.line, line.sourceColumn, Severity::kWarning, "path-too-long",
             "the copy of " + Quoted(name) + " fails: its path would be longer than 259 characters");
    } else if (LookUp(from) == EntryKind::kInvalid) {
      // A host name the device cannot hold: a character it refuses, or bytes
      // that are no UTF-8 (shown as U+FFFD).
      Report(line.line, line.sourceColumn, Severity::kError, "invalid-name",
             "the copy of " + Quoted(name) + " fails: it is no name the device accepts (error 123)");
    } else if (folder) {
      Report(line.line, line.sourceColumn, Severity::kWarning, "wildcard-folder",
             Path(from) + " is a folder: a wildcard does not enter folders, and the copy of this one fails");
    } else {
      Written(line, target);
      copiedFrom_[PathKey(target)] = from;
      copies.emplace_back(from, target);
    }
  }
  // The target is meant to be a folder: only a slash in its path is news.
  Decisions created(plan.targetDir);
  brixcopy::CreatePath(plan.targetDir, &created);
  PathCreated(line, plan.targetDir, created);
  Decisions copied(plan.pattern);
  brixcopy::RunWildcardCopy(plan, line.source.c_str(), &copied);
  if (script_.device != nullptr)
    for (const auto& [from, to] : copies) script_.device->Copied(from, to);
  if (copied.Find(brixcopy::Decision::kWildcardNoMatch) != nullptr) {
    Report(line.line, line.sourceColumn, Severity::kWarning, "empty-wildcard",
           "wildcard " + Path(plan.pattern) + " matches nothing: the line copies nothing");
  }
  return true;
}

void InfChecker::CopyFile(const ParsedLine& line) {
  const std::u16string& source = line.source;
  const std::u16string& destination = line.destination;
  const std::u16string package = PathKey(script_.packageDir) + u"\\";
  switch (LookUp(source)) {
    case EntryKind::kMissing: {
      const bool inPackage = PathKey(source).rfind(package, 0) == 0;
      std::string text = "source " + Path(source);
      if (inPackage && lastWaited_ == 0) {
        Report(line.line, line.sourceColumn, Severity::kError, "missing-source", text + " is not in the package");
        return;
      }
      if (!line.hasDestination && !source.empty() && source[0] != u'\\')
        text += " (a relative source is taken from the package only on a line with a destination)";
      Missing(line, line.sourceColumn, "missing-source", text, "");
      return;
    }
    case EntryKind::kInvalid:
      Report(line.line, line.sourceColumn, Severity::kError, "invalid-name",
             "source " + Quoted(source) + " is no name the device accepts: the copy fails");
      return;
    case EntryKind::kFolder:
      Report(line.line, line.sourceColumn, Severity::kError, "source-folder",
             "source " + Path(source) + " is a folder: only a wildcard source ('" + Utf8(line.source) +
                 "\\*') copies a folder's files");
      return;
    case EntryKind::kFile:
      break;
  }
  if (line.noDestination) {
    Report(line.line, line.sourceColumn, Severity::kError, "no-destination",
           "the line has no destination, so the file goes to \\, the root folder: the copy fails");
    return;
  }
  Decisions created(destination.c_str());
  brixcopy::CreatePath(destination.c_str(), &created);
  PathCreated(line, destination, created);
  const bool madeFolder = created.Find(brixcopy::Decision::kFolderFromPath) != nullptr;
  if (madeFolder || LookUp(destination) == EntryKind::kFolder) {
    std::string text = "destination " + Path(destination);
    if (madeFolder) {
      text += " has no '.' anywhere, so the installer creates it as a folder before the copy, which then fails";
    } else {
      text += " is a folder: the copy fails";
      if (!line.resolved) text += " (with a source that begins with a backslash the destination names the file itself)";
    }
    Report(line.line, line.destinationColumn, Severity::kError, "destination-folder", text);
    return;
  }
  if (brixcopy::CopyOneFile(source.c_str(), destination.c_str()) == 0) {
    Report(line.line, line.destinationColumn, Severity::kError, "copy-fails",
           "the copy to " + Path(destination) + " fails on the device with " + DeviceError(plat::LastError()));
    return;
  }
  Written(line, destination);
  copiedFrom_[PathKey(destination)] = source;
  if (script_.device != nullptr) script_.device->Copied(source, destination);
}

void InfChecker::PathCreated(const ParsedLine& line, const std::u16string& path, const Decisions& created) {
  if (created.Find(brixcopy::Decision::kForwardSlash) != nullptr) {
    Report(line.line, line.destinationColumn, Severity::kWarning, "forward-slash",
           "the installer creates folders only at backslashes, so those before a '/' in " + Path(path) +
               " are not created: write device paths with backslashes");
  }
}

void InfChecker::QuotedProgram(const ParsedLine& line, const brixcopy::StartPlan& plan, const Decisions& planned) {
  // Offsets count in the entry; a source taken from the package has no column of its own.
  const auto column = [&](const Decisions::Made& made) {
    return line.resolved ? line.sourceColumn : line.sourceColumn + static_cast<int>(made.offset);
  };
  if (const Decisions::Made* first = planned.Find(brixcopy::Decision::kQuoteNotFirst); first != nullptr) {
    const std::string program = plan.kind == brixcopy::StartKind::kMissingQuote
                                    ? ""
                                    : " and takes the text up to the next double quote as the program, " +
                                          Quoted(plan.program);
    Report(line.line, column(*first), Severity::kWarning, "quoted-program",
           "the entry holds a double quote but does not begin with one: the installer drops its first character " +
               Quoted(first->text) + " all the same" + program + "; put the program path first, in double quotes");
  }
  if (const Decisions::Made* after = planned.Find(brixcopy::Decision::kAfterQuoteSkipped); after != nullptr) {
    Report(line.line, column(*after), Severity::kWarning, "quoted-program",
           "the character " + Quoted(after->text) + " behind the program path's closing double quote is skipped as "
           "the blank before the command line would be: the command line is " + Quoted(plan.commandLine));
  }
}

void InfChecker::Written(const ParsedLine& line, const std::u16string& destination) {
  const std::u16string key = PathKey(destination);
  const auto earlier = written_.find(key);
  if (earlier != written_.end() && earlier->second != line.line) {
    Report(line.line, line.destinationColumn, Severity::kWarning, "same-destination",
           Path(destination) + " is also written by line " + std::to_string(earlier->second) + ": the later copy wins");
  }
  written_[key] = line.line;
}

}  // namespace brixdev
