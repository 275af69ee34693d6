#include "regimport/script_file.h"

#include <cstdint>

#include "platform/wstr.h"

namespace brixparse {

namespace {

// Units asked of the stream per read; a longer physical line takes several reads.
constexpr int kReadChunk = 1024;

// The device's last-error code for a name too long to use.
constexpr std::uint32_t kErrorFilenameTooLong = 206;

constexpr char16_t kCannotOpen[] = u"CScriptFile::Open::cannot open script = %s err = %d\r\n";

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

CScriptFile::~CScriptFile() { Close(); }

void CScriptFile::Open(const char16_t* commandLine, LineObserver* observer) {
  Close();
  if (commandLine == nullptr) commandLine = u"";
  // A double quote anywhere means the path is quoted: the first character is
  // dropped and the path ends at the next double quote.
  const char16_t* start = commandLine;
  std::size_t length = 0;
  if (wstr::Chr(commandLine, u'"') != nullptr) {
    start = commandLine + 1;
    const char16_t* quote = wstr::Chr(start, u'"');
    length = quote != nullptr ? static_cast<std::size_t>(quote - start) : wstr::Len(start);
    if (observer != nullptr) {
      if (commandLine[0] != u'"') observer->Decided(Decision::kCommandLineFirst, 0, 1);
      if (quote != nullptr && quote[1] != 0)
        observer->Decided(Decision::kCommandLineRest, static_cast<std::size_t>(quote + 1 - commandLine),
                          wstr::Len(quote + 1));
    }
  } else {
    length = wstr::Len(commandLine);
  }
  if (length == 0) return;
  // A path that does not fit the path buffer is refused rather than cut
  // short: a shortened path could name a different script.
  char16_t opened[plat::kMaxPath];
  if (!wstr::CopyN(opened, plat::kMaxPath, start, length)) {
    const std::u16string whole(start, length);
    plat::DebugPrint(kCannotOpen, whole.c_str(), kErrorFilenameTooLong);
    return;
  }
  stream = plat::StreamOpen(opened, u"rt");
  if (stream == nullptr) {
    // Without this line a wrong path would look like a finished import.
    plat::DebugPrint(kCannotOpen, static_cast<const char16_t*>(opened), plat::LastError());
    return;
  }
  wstr::Copy(path, plat::kMaxPath, opened);
}

void CScriptFile::Close() {
  if (stream == nullptr) return;
  plat::StreamClose(stream);
  stream = nullptr;
}

int CScriptFile::ReadLine(std::u16string& line) {
  line.clear();
  if (stream == nullptr) return kLineEndOfFile;
  char16_t chunk[kReadChunk];
  bool readAny = false;
  bool tooLong = false;
  for (;;) {
    std::size_t count = 0;
    if (plat::StreamReadLine(chunk, kReadChunk, stream, &count) == nullptr) {
      // A last line without line feed is complete once the end of file is met.
      if (plat::StreamAtEof(stream) && !plat::StreamHasError(stream)) {
        if (!readAny) return kLineEndOfFile;
        ++physicalLines;
        return tooLong ? kLineTooLong : kLineRead;
      }
      return kLineReadError;
    }
    readAny = true;
    // Only a line feed ends the line: a chunk may stop short of the capacity
    // (a surrogate pair that did not fit) or hold zero units.
    const bool ends = chunk[count - 1] == u'\n';
    const std::size_t units = ends ? count - 1 : count;
    if (!tooLong && units > maxLineUnits - line.size()) {
      // No value can come from the line any more: it is only passed over to
      // its end, and what the line rules need of it is gathered on the way.
      tooLong = true;
      overLong = LineEnds{};
      overLong.Feed(line.data(), line.size());
      line.clear();
    }
    if (tooLong)
      overLong.Feed(chunk, units);
    else
      line.append(chunk, units);
    if (ends) {
      ++physicalLines;
      return tooLong ? kLineTooLong : kLineRead;
    }
    // A read that failed part-way shows only in the error indicator.
    if (plat::StreamHasError(stream)) return kLineReadError;
  }
}

void LineEnds::Feed(const char16_t* units, std::size_t count) {
  if (count == 0) return;
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t c = units[i];
    if (IsBlank(c)) continue;
    if (c == u';') {
      beforeSemicolon_ = lastNonBlank_;
      semicolon_ = true;
      quoteAfterSemicolon_ = false;
    } else if (c == u'"') {
      quoteAfterSemicolon_ = true;
    }
    lastNonBlank_ = c;
    if (!seenNonBlank_) {
      seenNonBlank_ = true;
      firstNonBlank = c;
    }
  }
  last = units[count - 1];
  // StripComment's rule: the last ";" cuts the line unless a double quote follows it.
  lastAfterComment = semicolon_ && !quoteAfterSemicolon_ ? beforeSemicolon_ : lastNonBlank_;
}

void TrimRight(std::u16string& line) {
  std::size_t length = line.size();
  while (length > 0 && IsBlank(line[length - 1])) --length;
  line.resize(length);
}

void StripComment(std::u16string& line) {
  TrimRight(line);
  // The last ";" starts a comment unless a double quote stands behind it:
  // whichever of the two comes last decides.
  std::size_t i = line.size();
  while (i > 0 && line[i - 1] != u';' && line[i - 1] != u'"') --i;
  if (i == 0 || line[i - 1] == u'"') return;
  line.resize(i - 1);
  TrimRight(line);
}

namespace {

// A carriage return with more than carriage returns behind it ends no line here.
void ReportCarriageReturn(const std::u16string& physical, std::size_t number, LineTrace& trace) {
  const std::size_t cr = physical.find(u'\r');
  if (cr == std::u16string::npos || physical.find_first_not_of(u'\r', cr) == std::u16string::npos) return;
  trace.DecidedAt(Decision::kCarriageReturn, DecisionPlace{number, cr + 1}, std::u16string_view(physical).substr(cr, 1));
}

// A continuation line that ends in a backslash and blanks ends the logical line.
void ReportBlankAfterBackslash(const std::u16string& physical, std::size_t number, LineTrace& trace) {
  std::size_t length = physical.size();
  while (length > 0 && IsBlank(physical[length - 1])) --length;
  if (length == physical.size() || length == 0 || physical[length - 1] != u'\\') return;
  trace.DecidedAt(Decision::kBlankAfterBackslash, DecisionPlace{number, length},
                  std::u16string_view(physical).substr(length - 1));
}

// The reading of a logical line; traced is a separate instantiation, so that
// the untraced read keeps its plain code.
template <bool kTraced>
int ReadLogical(CScriptFile& file, std::u16string& physical, std::u16string& logical, LineTrace* trace) {
  logical.clear();
  int result = file.ReadLine(physical);
  if (result == kLineEndOfFile || result == kLineReadError) return result;
  bool tooLong = result == kLineTooLong;
  if constexpr (kTraced) {
    trace->Begin(file.physicalLines, physical);
    if (!tooLong) ReportCarriageReturn(physical, file.physicalLines, *trace);
  }
  char16_t lead = 0;  // the line's first unit that is no blank
  bool continues = false;
  if (tooLong) {
    lead = file.overLong.firstNonBlank;
    continues = file.overLong.lastAfterComment == u'\\';
  } else {
    // Only the first physical line loses its comment and trailing blanks;
    // continuation lines are joined as read.
    StripComment(physical);
    const std::size_t first = physical.find_first_not_of(u" \t");
    if (first != std::u16string::npos) lead = physical[first];
    continues = !physical.empty() && physical.back() == u'\\';
  }
  // Where the last continuation backslash stood, for a script that ends behind it.
  [[maybe_unused]] DecisionPlace backslash;
  if constexpr (kTraced) backslash = DecisionPlace{file.physicalLines, physical.size()};
  // Once the joined line is too long it is still read to its end, so that
  // the next logical line starts where it should, but nothing more is kept.
  while (continues) {
    if (!tooLong) {
      physical.pop_back();
      if (physical.size() > file.maxLineUnits - logical.size())
        tooLong = true;
      else
        logical += physical;
    }
    result = file.ReadLine(physical);
    if (result == kLineEndOfFile) {
      if constexpr (kTraced) trace->DecidedAt(Decision::kBackslashAtEnd, backslash, u"\\");
      break;
    }
    if (result == kLineReadError) return kLineReadError;
    if (result == kLineTooLong) {
      tooLong = true;
      continues = file.overLong.last == u'\\';
      if constexpr (kTraced) backslash = DecisionPlace{file.physicalLines, 1};
    } else {
      continues = !physical.empty() && physical.back() == u'\\';
      if constexpr (kTraced) {
        backslash = DecisionPlace{file.physicalLines, physical.size()};
        trace->Continue(logical.size(), file.physicalLines);
        ReportCarriageReturn(physical, file.physicalLines, *trace);
        if (!continues) ReportBlankAfterBackslash(physical, file.physicalLines, *trace);
      }
    }
  }
  if (!tooLong && result != kLineEndOfFile) {
    if (physical.size() > file.maxLineUnits - logical.size())
      tooLong = true;
    else if (logical.empty())
      logical.swap(physical);
    else
      logical += physical;
  }
  if (!tooLong) return kLineRead;
  logical.clear();
  if (lead != 0) logical.push_back(lead);
  return kLineTooLong;
}

}  // namespace

int ReadLogicalLine(CScriptFile& file, std::u16string& physical, std::u16string& logical, LineTrace* trace) {
  return trace != nullptr ? ReadLogical<true>(file, physical, logical, trace)
                          : ReadLogical<false>(file, physical, logical, nullptr);
}

bool BeginsKeyLine(const std::u16string& line) {
  const std::size_t first = line.find_first_not_of(u" \t");
  return first != std::u16string::npos && line[first] == u'[';
}

}  // namespace brixparse
