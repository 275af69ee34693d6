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

void Diagnostics::AddUnreadable(const std::string& path, std::string message) {
  unreadable_.push_back(Diagnostic{path, 1, 1, Severity::kError, "unreadable", std::move(message), {}});
}

bool Diagnostics::HasErrors() const {
  return std::any_of(list_.begin(), list_.end(),
                     [](const Diagnostic& d) { return d.severity == Severity::kError; });
}

void SortFindings(std::vector<Diagnostic>& list) {
  std::stable_sort(list.begin(), list.end(), [](const Diagnostic& a, const Diagnostic& b) {
    if (a.file != b.file) return a.file < b.file;
    if (a.line != b.line) return a.line < b.line;
    return a.column < b.column;
  });
}

std::vector<Diagnostic> Diagnostics::Sorted() const {
  // A note that explains the finding before it is sorted as that finding
  // (stable: right behind it), wherever the note itself points.
  struct Keyed {
    Diagnostic place;  // where it sorts
    std::size_t index;
  };
  std::vector<Keyed> keyed;
  for (std::size_t i = 0; i < list_.size(); ++i) {
    const bool explains = !list_[i].explains.empty() && i > 0 && !keyed.empty();
    keyed.push_back(Keyed{explains ? keyed.back().place : list_[i], i});
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    if (a.place.file != b.place.file) return a.place.file < b.place.file;
    if (a.place.line != b.place.line) return a.place.line < b.place.line;
    return a.place.column < b.place.column;
  });
  std::vector<Diagnostic> sorted;
  sorted.reserve(keyed.size());
  for (const Keyed& k : keyed) sorted.push_back(list_[k.index]);
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
