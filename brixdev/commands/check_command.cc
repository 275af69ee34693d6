// Each path gets a throw-away device of its own, so that the copy lines of one
// package never show in the check of another.
#include "brixdev/commands/check_command.h"

#include <limits.h>
#include <stdlib.h>

#include <set>

#include "brixdev/checks/decision_findings.h"
#include "brixdev/checks/diagnostics.h"
#include "brixdev/checks/install_script_check.h"
#include "brixdev/checks/registry_script_check.h"
#include "brixdev/device/check_device.h"
#include "brixdev/text.h"

namespace brixdev {
namespace {

enum class Kind { kPackage, kInstallScript, kRegistryScript };

struct Target {
  Kind kind = Kind::kPackage;
  std::string folder;  // the package folder (for the two install-script kinds)
  std::string file;    // the script itself
  std::string name;    // the script as the findings name it
};

std::string Joined(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && SameIgnoringCase(Utf16(text.substr(text.size() - tail.size())), Utf16(tail));
}

bool Classify(const std::string& path, Target* target, std::string* error) {
  if (IsHostFolder(path)) {
    target->kind = Kind::kPackage;
    target->folder = path;
    target->file = HostPathFor(path, u"BrixCopy.inf");
    if (!IsHostFile(target->file)) {
      *error = "no BrixCopy.inf in the package folder " + path;
      return false;
    }
    target->name = Joined(path, target->file.substr(target->file.rfind('/') + 1));
    return true;
  }
  if (!IsHostFile(path)) {
    *error = "cannot read " + path;
    return false;
  }
  target->file = target->name = path;
  if (EndsWithIgnoringCase(path, ".reg")) {
    target->kind = Kind::kRegistryScript;
  } else {
    target->kind = Kind::kInstallScript;
    const std::size_t slash = path.rfind('/');
    target->folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  }
  return true;
}

// The device path where host path lies inside the device folder device; false when it lies elsewhere.
bool PlaceInDevice(const std::string& device, const std::string& path, std::u16string* devicePath) {
  if (device.empty()) return false;
  char root[PATH_MAX], resolved[PATH_MAX];
  if (realpath((device + "/fs").c_str(), root) == nullptr || realpath(path.c_str(), resolved) == nullptr) return false;
  const std::string r = root, p = resolved;
  if (p.size() <= r.size() || p.compare(0, r.size(), r) != 0 || p[r.size()] != '/') return false;
  std::string inside = p.substr(r.size());
  for (char& c : inside)
    if (c == '/') c = '\\';
  *devicePath = Utf16(inside);
  return true;
}

std::u16string BaseOf(const std::string& file) { return Utf16(file.substr(file.rfind('/') + 1)); }

// What the importer's command-line rule leaves out of the script's path.
class CommandLineDecisions final : public brixparse::LineObserver {
 public:
  explicit CommandLineDecisions(const std::u16string& commandLine) : commandLine_(commandLine) {}
  void Decided(brixparse::Decision decision, std::size_t offset, std::size_t length) override {
    made.emplace_back(decision, commandLine_.substr(offset, length));
  }
  std::vector<std::pair<brixparse::Decision, std::u16string>> made;

 private:
  const std::u16string& commandLine_;
};

class PathCheck {
 public:
  PathCheck(const CheckRequest& request, Diagnostics* out, std::set<std::string>* checked)
      : request_(request), out_(out), checked_(checked) {}

  // Checks one target; false with *error when it cannot be read.
  bool Run(const Target& target, std::string* error) {
    if (!device_.Create(request_.device, request_.importer, error)) return false;
    std::u16string place;
    const std::string& placed = target.kind == Kind::kRegistryScript ? target.file : target.folder;
    if (!PlaceInDevice(request_.device, placed, &place)) {
      place = request_.at + (target.kind == Kind::kRegistryScript ? u"\\" + BaseOf(target.file) : u"\\BrixCopy");
      if (!device_.Place(placed, place, error)) return false;
    }
    for (const std::string& skipped : device_.Skipped()) {
      out_->Add(skipped, 1, 1, Severity::kWarning, "not-a-file",
                "neither a file nor a folder (a symbolic link, for instance): a device cannot hold it, and the "
                "check leaves it out");
    }
    device_.Activate(DropDebugOutput);
    if (target.kind == Kind::kRegistryScript) {
      const auto nameOf = [&](const std::u16string& devicePath) {
        device_.Prepare(devicePath);
        return target.name;
      };
      const ScriptCheck result = CheckRegistryScript(place, nameOf, out_);
      if (result != ScriptCheck::kChecked) {
        *error = "the importer cannot " + std::string(result == ScriptCheck::kCannotOpen ? "open " : "read ") + target.name;
        return false;
      }
      return Prepared(error);
    }
    InstallScript script;
    script.packageDir = place;
    script.path = place + u"\\" + BaseOf(target.file);
    script.name = target.name;
    script.installersAssumed = request_.device.empty();
    script.device = &device_;
    const bool read = CheckInstallScript(script, out_, [&](const ImporterRun& run) { ImporterRuns(script, run); }, error);
    if (read && !unreadable_.empty()) *error = "the importer cannot read " + unreadable_;
    return read && unreadable_.empty() && Prepared(error);
  }

 private:
  // True when every file the check read had its content; else false with *error.
  bool Prepared(std::string* error) const {
    if (device_.PrepareError().empty()) return true;
    *error = device_.PrepareError();
    return false;
  }

  void ImporterRuns(const InstallScript& script, const ImporterRun& run) {
    if (!run.hasCommandLine) {
      out_->Add(script.name, run.line, run.column, Severity::kWarning, "missing-registry-script",
                "the importer is started without a command line: it imports nothing");
      return;
    }
    std::string name;
    const auto nameOf = [&](const std::u16string& devicePath) {
      device_.Prepare(devicePath);
      name = NameOf(devicePath, run.copiedFrom);
      return checked_->insert(name).second ? name : std::string();
    };
    CommandLineDecisions taken(run.commandLine);
    const ScriptCheck result = CheckRegistryScript(run.commandLine, nameOf, out_, &taken);
    for (const auto& [decision, text] : taken.made) {
      const FindingText finding = RegistryFinding(decision, text, RegistryLine{});
      out_->Add(script.name, run.line, run.column, finding.severity, finding.id, finding.message);
    }
    if (result == ScriptCheck::kCannotRead) unreadable_ = name;
    if (result == ScriptCheck::kCannotOpen) {
      out_->Add(script.name, run.line, run.column, Severity::kError, "missing-registry-script",
                "the importer opens no registry script from its command line '" + Utf8(run.commandLine) +
                    "': it imports nothing");
    }
  }

  // The file the user knows a device file by: the file it was placed from, through the copies the script made.
  std::string NameOf(std::u16string devicePath, const std::map<std::u16string, std::u16string>* copiedFrom) const {
    for (int hops = 0; copiedFrom != nullptr && hops < 1000; ++hops) {
      const auto found = copiedFrom->find(PathKey(devicePath));
      if (found == copiedFrom->end()) break;
      devicePath = found->second;
    }
    const std::string placed = device_.PlacedFrom(device_.HostPath(devicePath));
    return placed.empty() ? Utf8(devicePath) : placed;
  }

  const CheckRequest& request_;
  Diagnostics* out_;
  std::set<std::string>* checked_;
  CheckDevice device_;
  std::string unreadable_;  // a registry script that cannot be read to its end
};

}  // namespace

int RunCheck(const CheckRequest& request, std::string* out, std::string* err) {
  Diagnostics diagnostics;
  std::set<std::string> checkedScripts;
  std::size_t unreadable = 0;
  // A path that cannot be checked is reported and the others are checked all the same.
  for (const std::string& path : request.paths) {
    Target target;
    std::string error;
    if (!Classify(path, &target, &error) || !PathCheck(request, &diagnostics, &checkedScripts).Run(target, &error)) {
      *err += "brixdev: " + error + "\n";
      diagnostics.AddUnreadable(path, error);
      ++unreadable;
    }
  }
  // The summary counts the findings of the paths checked; with none, there is nothing to count.
  const bool anyChecked = unreadable < request.paths.size();
  const std::vector<Diagnostic> reported = diagnostics.Reported(request.ignored);
  const Counts counts = Count(reported);
  // The machine-read reports name the paths that could not be checked among the findings, by file.
  std::vector<Diagnostic> named = reported;
  for (const Diagnostic& path : diagnostics.Unreadable()) {
    auto at = named.begin();
    while (at != named.end() && at->file <= path.file) ++at;
    named.insert(at, path);
  }
  switch (request.format) {
    case Format::kText:
      *out = Diagnostics::FindingsText(reported, request.colour);
      if (anyChecked) *err += SummaryLine(counts) + "\n";
      break;
    case Format::kJson:
      *out = Diagnostics::FindingsJson(named);
      break;
    case Format::kSarif:
      *out = SarifLog(named, request.sarif);
      break;
  }
  if (unreadable != 0) return 2;
  return counts.errors > 0 || (request.werror && counts.warnings > 0) ? 1 : 0;
}

}  // namespace brixdev
