// Findings of a check, reported compiler style (FILE:LINE:COLUMN: error|warning|note: TEXT [id])
// or as JSON, sorted by file and line.
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
  // True when any finding is an error.
  bool HasErrors() const;
  // The findings sorted by file and line, the order of adding kept otherwise.
  std::vector<Diagnostic> Sorted() const;
  // One line per finding: FILE:LINE:COLUMN: SEVERITY: TEXT [id]
  std::string Text() const;
  // The findings as a JSON array of objects with file, line, column, severity, id and message.
  std::string Json() const;

 private:
  std::vector<Diagnostic> list_;
};

// The word of a severity: "error", "warning" or "note".
const char* SeverityWord(Severity severity);
// text as a JSON string literal, quotes included; text is UTF-8.
std::string JsonString(const std::string& text);

}  // namespace brixdev
