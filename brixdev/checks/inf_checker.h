// The state of one install-script check, shared by the reading of the script
// (install_script_check.cc) and the checks of the line actions (inf_checker.cc).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "brixdev/checks/diagnostics.h"
#include "brixdev/checks/install_script_check.h"
#include "installer/decisions.h"
#include "installer/launch.h"

namespace brixdev {

// The installer's decisions on one text (a line, its options, an entry, a path), as the deciding function told them.
class Decisions final : public brixcopy::LineObserver {
 public:
  struct Made {
    brixcopy::Decision decision;
    std::size_t offset;  // in the text
    std::u16string text;
  };
  // base: the text the deciding function is given.
  explicit Decisions(const char16_t* base) : base_(base) {}
  void Decided(brixcopy::Decision decision, const char16_t* at, std::size_t length) override {
    made.push_back(Made{decision, static_cast<std::size_t>(at - base_), std::u16string(at, length)});
  }
  // The first decision of that kind, or nullptr.
  const Made* Find(brixcopy::Decision decision) const {
    for (const Made& m : made)
      if (m.decision == decision) return &m;
    return nullptr;
  }
  std::vector<Made> made;

 private:
  const char16_t* base_;
};

// One line as the installer parses it, with where its parts stand in the physical line.
struct ParsedLine {
  int line = 1;                   // physical line
  int column = 1;                 // column of the line's first character (after removed spaces)
  std::u16string text;            // the line as parsed, line feed included
  std::u16string source, destination, options;
  bool resolved = false;          // a relative source, placed in the package
  bool hasDestination = false;    // the line has a destination field
  bool noDestination = false;     // the line parser supplied the destination of a copy line
  int sourceColumn = 1, destinationColumn = 1, optionsColumn = 1;
};

class InfChecker {
 public:
  InfChecker(const InstallScript& script, Diagnostics* out, const std::function<void(const ImporterRun&)>& importerRun)
      : script_(script), out_(out), importerRun_(importerRun) {}

  // Checks and carries out a register line.
  void Register(const ParsedLine& line);
  // Checks a run line; wait: the installer waits for the program.
  void Run(const ParsedLine& line, bool wait);
  // Checks and carries out a copy line; false when the installer stops the script at it.
  bool Copy(const ParsedLine& line);

  // The script under check.
  const InstallScript& Script() const { return script_; }
  // Adds a finding at line:column of the script.
  void Report(int line, int column, Severity severity, const char* id, const std::string& message);
  // Adds a note at line:column of the script that explains the finding reported last.
  void Explain(int line, int column, const char* id, const std::string& message);

 private:
  bool CopyWildcard(const ParsedLine& line);
  void CopyFile(const ParsedLine& line);
  // Notes that a line writes destination; warns when an earlier line wrote it too.
  void Written(const ParsedLine& line, const std::u16string& destination);
  // Checks that program exists, as the device starts it; false when it is missing. quoteNotFirst: the
  // program path was cut from an entry whose double quote is not its first character.
  bool ProgramPresent(const ParsedLine& line, const std::u16string& program, const std::string& what,
                      bool quoteNotFirst);
  void IgnoredDestination(const ParsedLine& line, const char* action);
  // Reports what creating the folders of path decided: a "/" that divides nothing.
  void PathCreated(const ParsedLine& line, const std::u16string& path, const Decisions& created);
  // Reports what the split of a quoted program path drops.
  void QuotedProgram(const ParsedLine& line, const brixcopy::StartPlan& plan, const Decisions& planned);
  // Reports that subject, a file the line needs, is missing, and the consequence: an error, or a
  // warning when a program that an earlier line waited for may have created it.
  void Missing(const ParsedLine& line, int column, const char* id, const std::string& subject,
               const std::string& consequence);

  const InstallScript& script_;
  Diagnostics* out_;
  const std::function<void(const ImporterRun&)>& importerRun_;
  std::map<std::u16string, int> written_;                // destination key -> line that last wrote it
  std::map<std::u16string, std::u16string> copiedFrom_;  // destination key -> the source copied there
  int lastWaited_ = 0;  // the last line that starts a program and waits for it, 0 for none
};

}  // namespace brixdev
