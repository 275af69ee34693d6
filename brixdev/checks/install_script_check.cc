// The script is read through the platform table exactly as the installer
// reads it (pieces of at most 259 characters, text mode), each piece goes
// through the runner's own line rules and line parser, and only then does the
// check add what it knows about the line's surprises.
#include "brixdev/checks/install_script_check.h"

#include <set>
#include <vector>

#include "brixdev/checks/decision_findings.h"
#include "brixdev/checks/inf_checker.h"
#include "brixdev/device/check_device.h"
#include "brixdev/text.h"
#include "installer/inf_line.h"
#include "installer/line_rules.h"
#include "installer/messages.h"
#include "platform/platform.h"

namespace brixdev {
namespace {

using brixcopy::kPathChars;

// One read of the installer: a whole physical line or a piece of one.
struct Piece {
  int line = 1;
  int offset = 0;  // characters of the physical line before this piece
  std::u16string text;
};

bool ReadPieces(const std::u16string& path, std::vector<Piece>* pieces, std::string* error) {
  plat::Stream* stream = plat::StreamOpen(path.c_str(), u"rt");
  if (stream == nullptr) {
    *error = "cannot read the install script (" + DeviceError(plat::LastError()) + ")";
    return false;
  }
  int line = 1;
  int offset = 0;
  bool ok = true;
  for (;;) {
    char16_t buffer[brixcopy::kScriptReadCapacity];
    const char16_t* read = plat::StreamReadLine(buffer, brixcopy::kScriptReadCapacity, stream);
    if (plat::StreamHasError(stream)) {
      *error = "cannot read the install script (" + DeviceError(plat::LastError()) + ")";
      ok = false;
      break;
    }
    if (read == nullptr) break;
    Piece piece{line, offset, buffer};
    if (!piece.text.empty() && piece.text.back() == u'\n') {
      ++line;
      offset = 0;
    } else {
      offset += static_cast<int>(piece.text.size());
    }
    pieces->push_back(std::move(piece));
  }
  plat::StreamClose(stream);
  return ok;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string Trimmed(std::u16string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::u16string(text.substr(begin, end - begin));
}

std::string Quoted(std::u16string_view text) { return "'" + Utf8(text) + "'"; }

// "3, 5-7": the line numbers as ranges.
std::string Ranges(const std::vector<int>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size();) {
    std::size_t j = i;
    while (j + 1 < lines.size() && lines[j + 1] == lines[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += std::to_string(lines[i]);
    if (j > i) out += "-" + std::to_string(lines[j]);
    i = j + 1;
  }
  return out;
}

class ScriptReader {
 public:
  explicit ScriptReader(InfChecker* checker) : checker_(checker) {}

  void Check(const std::vector<Piece>& pieces) {
    ReportSplitsAndCarriageReturns(pieces);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (!CheckPiece(pieces[i])) {
        ReportNeverRun(pieces, i);
        return;
      }
    }
  }

 private:
  void ReportSplitsAndCarriageReturns(const std::vector<Piece>& pieces) {
    for (std::size_t i = 0; i < pieces.size();) {
      std::size_t j = i + 1;
      std::size_t length = pieces[i].text.size();
      bool restHoldsText = false;
      for (; j < pieces.size() && pieces[j].line == pieces[i].line; ++j) {
        length += pieces[j].text.size();
        restHoldsText = restHoldsText || pieces[j].text != u"\n";
      }
      if (!pieces[j - 1].text.empty() && pieces[j - 1].text.back() == u'\n') --length;
      if (restHoldsText) {
        checker_->Report(pieces[i].line, brixcopy::kScriptReadCapacity, Severity::kError, "split-line",
                         "line of " + std::to_string(length) +
                             " characters: the installer reads at most 259 at a time, so from column 260 on "
                             "the rest is handled as a line of its own");
      }
      for (std::size_t k = i; k < j; ++k) {
        const std::size_t cr = pieces[k].text.find(u'\r');
        // A lone carriage return at the very end of a line ends nothing but does no harm either.
        if (cr != std::u16string::npos && pieces[k].text.find_first_not_of(u"\r\n", cr) != std::u16string::npos) {
          crLines_.insert(pieces[k].line);
          checker_->Report(pieces[k].line, pieces[k].offset + static_cast<int>(cr) + 1, Severity::kError,
                           "cr-line-end",
                           "carriage return without line feed: the installer reads on across it, so the "
                           "lines it was meant to end are one line");
          break;
        }
      }
      i = j;
    }
  }

  // Checks one read of the installer; false when the installer stops the script at it.
  bool CheckPiece(const Piece& piece) {
    Decisions skipped(piece.text.c_str());
    const char16_t* text = brixcopy::ScriptLineText(piece.text.c_str(), &skipped);
    if (const Decisions::Made* cr = skipped.Find(brixcopy::Decision::kSkippedLine);
        cr != nullptr && crLines_.insert(piece.line).second) {
      checker_->Report(piece.line, piece.offset + static_cast<int>(cr->offset) + 1, Severity::kError, "cr-line-end",
                       "a line that begins with a carriage return is skipped whole: the installer reads on across "
                       "it, so the line behind it never runs");
    }
    if (text == nullptr) return true;
    ParsedLine line;
    line.line = piece.line;
    line.column = piece.offset + static_cast<int>(text - piece.text.c_str()) + 1;
    stopColumn_ = line.column;
    line.text = text;
    char16_t source[kPathChars], destination[kPathChars], options[kPathChars];
    Decisions parsed(text);
    const brixcopy::InfLineFault fault =
        brixcopy::SplitInfLine(text, checker_->Script().packageDir.c_str(), source, destination, options,
                               &line.resolved, &parsed);
    if (fault != brixcopy::InfLineFault::kNone) {
      ReportMalformed(line, fault);
      return false;
    }
    line.source = source;
    line.destination = destination;
    line.options = options;
    line.noDestination = parsed.Find(brixcopy::Decision::kNoDestination) != nullptr;
    LocateFields(&line);
    Decisions chosen(options);
    const brixcopy::LineAction action = brixcopy::ActionOf(options, &chosen);
    ReportLineDecisions(line, parsed);
    ReportOptionDecisions(line, chosen, action);
    switch (action) {
      case brixcopy::LineAction::kRegister:
        checker_->Register(line);
        return true;
      case brixcopy::LineAction::kRun:
        checker_->Run(line, false);
        return true;
      case brixcopy::LineAction::kRunAndWait:
        checker_->Run(line, true);
        return true;
      case brixcopy::LineAction::kCopy:
        return checker_->Copy(line);
    }
    return true;
  }

  void ReportMalformed(const ParsedLine& line, brixcopy::InfLineFault fault) {
    static const std::string kStops = ": the line is malformed and the installer stops the script here";
    std::u16string_view rest(line.text);
    while (!rest.empty() && (rest[0] == u'\t' || rest[0] == u' ')) rest.remove_prefix(1);
    const int at = line.column + static_cast<int>(line.text.size() - rest.size());
    if (fault == brixcopy::InfLineFault::kPathTooLong) {
      checker_->Report(line.line, line.column, Severity::kError, "path-too-long",
                       "a field or a path composed from it is longer than 259 characters" + kStops);
    } else if (fault == brixcopy::InfLineFault::kNoSourceStartingQuote && !rest.empty() && rest[0] == u';') {
      checker_->Report(line.line, line.column, Severity::kError, "tab-comment",
                       "a comment indented with a tab is not skipped: only spaces may stand before its ';'" +
                           kStops);
    } else if (fault == brixcopy::InfLineFault::kNoSourceStartingQuote && !rest.empty() && rest[0] == u'[') {
      checker_->Report(line.line, at, Severity::kError, "section-header",
                       "section header " + Utf8(Trimmed(rest)) + ": install scripts have no sections" + kStops);
    } else {
      const char* what = fault == brixcopy::InfLineFault::kNoSourceStartingQuote ? "no apostrophe opens a source"
                         : fault == brixcopy::InfLineFault::kNoSourceEndingQuote
                             ? "no apostrophe closes the source"
                             : "no apostrophe closes the destination";
      const std::string hint = line.text.find(u'"') != std::u16string::npos
                                   ? " (double quotes mark no field: the installer reads fields between apostrophes, "
                                     "such as 'a.txt' '\\Windows')"
                                   : "";
      checker_->Report(line.line, at, Severity::kError, "malformed-line", std::string(what) + kStops + hint);
    }
  }

  void ReportNeverRun(const std::vector<Piece>& pieces, std::size_t stop) {
    std::vector<int> lines;
    for (std::size_t i = stop + 1; i < pieces.size(); ++i) {
      if (brixcopy::ScriptLineText(pieces[i].text.c_str()) == nullptr) continue;
      if (lines.empty() || lines.back() != pieces[i].line) {
        if (pieces[i].line != pieces[stop].line) lines.push_back(pieces[i].line);
      }
    }
    if (lines.empty()) return;
    // At the place the script stops, behind the finding that says why.
    checker_->Explain(pieces[stop].line, stopColumn_, "never-run",
                     std::string(lines.size() == 1 ? "line " : "lines ") + Ranges(lines) +
                         (lines.size() == 1 ? " never runs" : " never run") + ", because the script stops here");
  }

  // Finds the apostrophes of the fields and the options' '-' as the line parser takes them.
  void LocateFields(ParsedLine* line) {
    std::vector<std::size_t> quotes;
    for (std::size_t i = 0; i < line->text.size() && quotes.size() < 4; ++i)
      if (line->text[i] == u'\'') quotes.push_back(i);
    line->hasDestination = quotes.size() == 4;
    const std::size_t lastClose = line->hasDestination ? quotes[3] : quotes[1];
    const std::size_t dash = line->text.find(u'-', lastClose + 1);
    line->sourceColumn = line->column + static_cast<int>(quotes[0]) + 1;
    line->destinationColumn = line->hasDestination ? line->column + static_cast<int>(quotes[2]) + 1 : line->column;
    line->optionsColumn = dash != std::u16string::npos ? line->column + static_cast<int>(dash) : line->column;
  }

  // What the line parser passed over, supplied or read otherwise than written.
  void ReportLineDecisions(const ParsedLine& line, const Decisions& parsed) {
    for (const Decisions::Made& made : parsed.made) {
      const int column = line.column + static_cast<int>(made.offset);
      switch (made.decision) {
        case brixcopy::Decision::kTextBeforeSource:
          IgnoredText(line, column, made.text, "before the source");
          break;
        case brixcopy::Decision::kTextBetweenFields:
          IgnoredText(line, column, made.text, "between source and destination");
          break;
        case brixcopy::Decision::kTextAfterFields:
          IgnoredText(line, column, made.text, "behind the fields");
          break;
        case brixcopy::Decision::kRelativeIntoFile:
          checker_->Report(line.line, line.destinationColumn, Severity::kWarning, "relative-into-file",
                           "a relative source keeps its path below the destination, which names a file here: the "
                           "copy goes to " + Utf8(line.destination) + ", inside a folder " + Quoted(made.text) +
                               "; write the folder as the destination, or the source with a leading backslash");
          break;
        case brixcopy::Decision::kForwardSlash:
          checker_->Report(line.line, column, Severity::kWarning, "forward-slash",
                           "the source begins with '/': only a backslash makes a source absolute, so it is taken "
                           "from the package; write device paths with backslashes");
          break;
        default:
          break;  // the supplied destination is reported with the copy it matters to
      }
    }
  }

  // What of the options the runner's choice of action leaves unused.
  void ReportOptionDecisions(const ParsedLine& line, const Decisions& chosen, brixcopy::LineAction action) {
    for (const Decisions::Made& made : chosen.made) {
      switch (made.decision) {
        case brixcopy::Decision::kNoActionOptions:
          checker_->Report(line.line, line.optionsColumn, Severity::kWarning, "no-action-options",
                           "options " + Quoted(made.text) +
                               " select no action (only -r, -e and -x do, in lower case): the line copies");
          break;
        case brixcopy::Decision::kSeveralActions:
          checker_->Report(line.line, line.optionsColumn, Severity::kWarning, "option-order",
                           "options " + Quoted(made.text) + " name several actions: only " +
                               (action == brixcopy::LineAction::kRegister ? "-r" : "-e") +
                               " is carried out (-r before -e before -x)");
          break;
        case brixcopy::Decision::kIgnoredOptionText:
          checker_->Report(line.line, line.optionsColumn, Severity::kWarning, "ignored-text",
                           "option text " + Quoted(made.text) + " is ignored");
          break;
        default:
          break;
      }
    }
  }

  void IgnoredText(const ParsedLine& line, int column, const std::u16string& text, const char* where) {
    std::string message = "text " + std::string(where) + " is ignored: " + Quoted(text);
    if (text.find(u'"') != std::u16string::npos)
      message += " (double quotes mark no field: the installer reads fields between apostrophes)";
    checker_->Report(line.line, column, Severity::kWarning, "ignored-text", message);
  }

  InfChecker* checker_;
  std::set<int> crLines_;  // lines with a carriage return reported
  int stopColumn_ = 1;  // where the line the script may stop at begins
};

}  // namespace

void InfChecker::Report(int line, int column, Severity severity, const char* id, const std::string& message) {
  out_->Add(script_.name, line, column, severity, id, message);
}

void InfChecker::Explain(int line, int column, const char* id, const std::string& message) {
  out_->Explain(script_.name, line, column, id, message);
}

bool CheckInstallScript(const InstallScript& script, Diagnostics* out,
                        const std::function<void(const ImporterRun&)>& importerRun, std::string* error) {
  if (script.packageDir.size() >= kPathChars) {
    *error = "the package directory " + Utf8(script.packageDir) + " is longer than 259 characters";
    return false;
  }
  if (script.device != nullptr) script.device->Prepare(script.path);
  std::vector<Piece> pieces;
  if (!ReadPieces(script.path, &pieces, error)) return false;
  InfChecker checker(script, out, importerRun);
  ScriptReader(&checker).Check(pieces);
  return true;
}

}  // namespace brixdev
