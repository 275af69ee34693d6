// Findings of a check, reported compiler style (FILE:LINE:COLUMN: error|warning|note: TEXT [id])
// or as JSON, sorted by file, line and column.
#pragma once

#include <string>
#include <vector>

namespace brixdev {

enum class Severity { kError, kWarning, kNote };

struct Diagnostic {
  std::string file;     // the file as the user named it (host path, UTF-8)
  int line = 1;         // 1-based physical line
  int column = 1;       // 1-based, in characters (UTF-16 units) as the device counts them
  Severity severity = Severity::kError;
  std::string id;       // short name of the finding, listed in docs/brixdev.md
  std::string message;  // UTF-8 text
};

// Collects the findings of one run.
class Diagnostics {
 public:
  void Add(Diagnostic diagnostic) { list_.push_back(std::move(diagnostic)); }
  // Adds a finding at file:line:column.
  void Add(const std::string& file, int line, int column, Severity severity, std::string id,
           std::string message);
  // Notes a path that could not be checked: in JSON an error with id "unreadable"; the text
  // report leaves it to the caller's message on standard error.
  void AddUnreadable(const std::string& path, std::string message);
  // True when any finding is an error.
  bool HasErrors() const;
  // The findings sorted by file, line and column, the order of adding kept otherwise.
  std::vector<Diagnostic> Sorted() const;
  // One line per finding: FILE:LINE:COLUMN: SEVERITY: TEXT [id]
  std::string Text() const;
  // The findings and the unreadable paths as a JSON array of objects with file, line, column,
  // severity, id and message.
  std::string Json() const;

 private:
  std::vector<Diagnostic> list_;
  std::vector<Diagnostic> unreadable_;
};

// The word of a severity: "error", "warning" or "note".
const char* SeverityWord(Severity severity);
// text as a JSON string literal, quotes included: valid UTF-8 whatever text holds, each byte that
// belongs to no UTF-8 sequence (a host file name's, for instance) written as U+FFFD.
std::string JsonString(const std::string& text);

}  // namespace brixdev
