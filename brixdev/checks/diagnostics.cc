#include "brixdev/checks/diagnostics.h"

#include <algorithm>
#include <cstdio>

namespace brixdev {

void Diagnostics::Add(const std::string& file, int line, int column, Severity severity, std::string id,
                      std::string message) {
  list_.push_back(Diagnostic{file, line, column, severity, std::move(id), std::move(message)});
}

void Diagnostics::AddUnreadable(const std::string& path, std::string message) {
  unreadable_.push_back(Diagnostic{path, 1, 1, Severity::kError, "unreadable", std::move(message)});
}

bool Diagnostics::HasErrors() const {
  return std::any_of(list_.begin(), list_.end(),
                     [](const Diagnostic& d) { return d.severity == Severity::kError; });
}

namespace {

void SortFindings(std::vector<Diagnostic>& sorted) {
  // Stable: a note stays behind the finding it explains at the same place.
  std::stable_sort(sorted.begin(), sorted.end(), [](const Diagnostic& a, const Diagnostic& b) {
    if (a.file != b.file) return a.file < b.file;
    if (a.line != b.line) return a.line < b.line;
    return a.column < b.column;
  });
}

}  // namespace

std::vector<Diagnostic> Diagnostics::Sorted() const {
  std::vector<Diagnostic> sorted = list_;
  SortFindings(sorted);
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
  std::vector<Diagnostic> all = unreadable_;
  all.insert(all.end(), list_.begin(), list_.end());
  SortFindings(all);
  std::string out = "[";
  bool first = true;
  for (const Diagnostic& d : all) {
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

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0 when none starts there.
std::size_t Utf8Sequence(const std::string& text, std::size_t i) {
  const auto at = [&](std::size_t k) { return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u; };
  const auto continuation = [&](std::size_t k) { return (at(k) & 0xC0) == 0x80; };
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    // No overlong forms, no surrogates.
    const unsigned low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    return at(1) >= low && at(1) <= high && continuation(2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    // No overlong forms, nothing beyond U+10FFFF.
    const unsigned low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    return at(1) >= low && at(1) <= high && continuation(2) && continuation(3) ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8Sequence(text, i);
    if (length == 0) {
      // A byte of a host file name (or any text) that is not UTF-8: the replacement character.
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out + "\"";
}

}  // namespace brixdev
