#include "brixdev/checks/diagnostics.h"

#include <algorithm>
#include <cstdio>

#include "platform/terminal_text.h"

namespace brixdev {

void Diagnostics::Add(const std::string& file, int line, int column, Severity severity, std::string id,
                      std::string message) {
  list_.push_back(Diagnostic{file, line, column, severity, std::move(id), std::move(message), {}});
}

void Diagnostics::Explain(const std::string& file, int line, int column, std::string id, std::string message) {
  std::string explained = list_.empty() ? std::string() : list_.back().id;
  list_.push_back(Diagnostic{file, line, column, Severity::kNote, std::move(id), std::move(message), std::move(explained)});
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

std::vector<Diagnostic> Diagnostics::Reported(const std::set<std::string>& ignored) const {
  std::vector<Diagnostic> reported;
  for (Diagnostic& d : Sorted()) {
    if (ignored.count(d.id) == 0 && (d.explains.empty() || ignored.count(d.explains) == 0))
      reported.push_back(std::move(d));
  }
  return reported;
}

std::string Diagnostics::FindingsText(const std::vector<Diagnostic>& list, bool colour) {
  // The colours gcc gives its diagnostics: the place bold, the severity word in its colour.
  const auto paint = [colour](const char* code, const std::string& text) {
    return colour ? std::string("\033[") + code + "m" + text + "\033[m" : text;
  };
  // Colours are for a terminal: there a package's own text (file names,
  // script lines) must not drive it, so its control characters are shown.
  const auto text = [colour](const std::string& t) { return colour ? plat::VisibleControls(t) : t; };
  std::string out;
  for (const Diagnostic& d : list) {
    const char* hue = d.severity == Severity::kError ? "01;31" : d.severity == Severity::kWarning ? "01;35" : "01;36";
    out += paint("01", text(d.file) + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) + ":") + " " +
           paint(hue, std::string(SeverityWord(d.severity)) + ":") + " " + text(d.message) + " [" + d.id + "]\n";
  }
  return out;
}

std::string Diagnostics::FindingsJson(const std::vector<Diagnostic>& list) {
  std::string out = "[";
  bool first = true;
  for (const Diagnostic& d : list) {
    out += first ? "\n" : ",\n";
    first = false;
    out += "  {\"file\": " + JsonString(d.file) + ", \"line\": " + std::to_string(d.line) +
           ", \"column\": " + std::to_string(d.column) + ", \"severity\": \"" + SeverityWord(d.severity) +
           "\", \"id\": " + JsonString(d.id) + ", \"message\": " + JsonString(d.message) + "}";
  }
  out += first ? "]\n" : "\n]\n";
  return out;
}

Counts Count(const std::vector<Diagnostic>& list) {
  Counts counts;
  for (const Diagnostic& d : list) {
    int& count = d.severity == Severity::kError ? counts.errors : d.severity == Severity::kWarning ? counts.warnings : counts.notes;
    ++count;
  }
  return counts;
}

std::string SummaryLine(const Counts& counts) {
  const auto words = [](int n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); };
  return words(counts.errors, "error") + ", " + words(counts.warnings, "warning") + ", " + words(counts.notes, "note");
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
