#include "brixdev/checks/diagnostics.h"

#include <algorithm>
#include <cstdio>

namespace brixdev {

void Diagnostics::Add(const std::string& file, int line, int column, Severity severity, std::string id,
                      std::string message) {
  list_.push_back(Diagnostic{file, line, column, severity, std::move(id), std::move(message)});
}

bool Diagnostics::HasErrors() const {
  return std::any_of(list_.begin(), list_.end(),
                     [](const Diagnostic& d) { return d.severity == Severity::kError; });
}

std::vector<Diagnostic> Diagnostics::Sorted() const {
  std::vector<Diagnostic> sorted = list_;
  // Stable: a note stays behind the finding it explains on the same line.
  std::stable_sort(sorted.begin(), sorted.end(), [](const Diagnostic& a, const Diagnostic& b) {
    if (a.file != b.file) return a.file < b.file;
    return a.line < b.line;
  });
  return sorted;
}

std::string Diagnostics::Text() const {
  std::string out;
  for (const Diagnostic& d : Sorted()) {
    out += d.file + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) + ": " +
           SeverityWord(d.severity) + ": " + d.message + " [" + d.id + "]\n";
  }
  return out;
}

std::string Diagnostics::Json() const {
  std::string out = "[";
  bool first = true;
  for (const Diagnostic& d : Sorted()) {
    out += first ? "\n" : ",\n";
    first = false;
    out += "  {\"file\": " + JsonString(d.file) + ", \"line\": " + std::to_string(d.line) +
           ", \"column\": " + std::to_string(d.column) + ", \"severity\": \"" + SeverityWord(d.severity) +
           "\", \"id\": " + JsonString(d.id) + ", \"message\": " + JsonString(d.message) + "}";
  }
  out += first ? "]\n" : "\n]\n";
  return out;
}

const char* SeverityWord(Severity severity) {
  switch (severity) {
    case Severity::kError:
      return "error";
    case Severity::kWarning:
      return "warning";
    case Severity::kNote:
      return "note";
  }
  return "error";
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace brixdev
