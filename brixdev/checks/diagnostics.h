// Findings of a check, reported compiler style (FILE:LINE:COLUMN: error|warning|note: TEXT [id])
// or as JSON, sorted by file, line and column.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace brixdev {

enum class Severity { kError, kWarning, kNote };

// How findings are written: compiler style, a JSON array, or a SARIF log (brixdev/checks/sarif.h).
enum class Format { kText, kJson, kSarif };

struct Diagnostic {
  std::string file;     // the file as the user named it (host path, UTF-8)
  int line = 1;         // 1-based physical line
  int column = 1;       // 1-based, in characters (UTF-16 units) as the device counts them
  Severity severity = Severity::kError;
  std::string id;       // short name of the finding, listed in docs/brixdev.md
  std::string message;  // UTF-8 text
  std::string explains; // for a note that explains the finding before it: that finding's id
};

// How many findings of each severity a list holds.
struct Counts {
  int errors = 0, warnings = 0, notes = 0;
};

// Collects the findings of one run.
class Diagnostics {
 public:
  void Add(Diagnostic diagnostic) { list_.push_back(std::move(diagnostic)); }
  // Adds a finding at file:line:column.
  void Add(const std::string& file, int line, int column, Severity severity, std::string id,
           std::string message);
  // Adds a note at file:line:column that explains the finding added last.
  void Explain(const std::string& file, int line, int column, std::string id, std::string message);
  // Notes a path that could not be checked: an error with id "unreadable" at its line 1, column 1, for
  // the machine-read reports; the text report leaves it to the caller's message on standard error.
  void AddUnreadable(const std::string& path, std::string message);
  // The paths that could not be checked.
  const std::vector<Diagnostic>& Unreadable() const { return unreadable_; }
  // True when any finding is an error.
  bool HasErrors() const;
  // The findings sorted by file, line and column, the order of adding kept otherwise; a note
  // that explains a finding stays right behind it.
  std::vector<Diagnostic> Sorted() const;
  // The findings sorted, without those whose id is in ignored and the notes that explain them.
  std::vector<Diagnostic> Reported(const std::set<std::string>& ignored) const;
  // One line per finding: FILE:LINE:COLUMN: SEVERITY: TEXT [id]
  std::string Text() const { return FindingsText(Sorted(), false); }
  // The findings as a JSON array of objects with file, line, column, severity, id and message.
  std::string Json() const { return FindingsJson(Sorted()); }

  // One line per finding: FILE:LINE:COLUMN: SEVERITY: TEXT [id]; colour: with terminal colours, as gcc has them.
  static std::string FindingsText(const std::vector<Diagnostic>& list, bool colour);
  // The findings as a JSON array of objects with file, line, column, severity, id and message.
  static std::string FindingsJson(const std::vector<Diagnostic>& list);

 private:
  std::vector<Diagnostic> list_;
  std::vector<Diagnostic> unreadable_;
};

// list sorted by file, line and column, the order kept otherwise.
void SortFindings(std::vector<Diagnostic>& list);

// The findings of each severity in list.
Counts Count(const std::vector<Diagnostic>& list);
// The summary line of counts: "1 error, 2 warnings, 0 notes".
std::string SummaryLine(const Counts& counts);

// The word of a severity: "error", "warning" or "note".
const char* SeverityWord(Severity severity);
// text as a JSON string literal, quotes included: valid UTF-8 whatever text holds, each byte that
// belongs to no UTF-8 sequence (a host file name's, for instance) written as U+FFFD.
std::string JsonString(const std::string& text);

}  // namespace brixdev
