#include "regimport/script_file.h"

#include "platform/wstr.h"

namespace {

// Units asked of the stream per read; a longer physical line takes several reads.
constexpr int kReadChunk = 1024;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

CScriptFile::~CScriptFile() { Close(); }

void CScriptFile::Open(const char16_t* commandLine) {
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
  } else {
    length = wstr::Len(commandLine);
  }
  // A path that does not fit the path buffer is refused rather than cut
  // short: a shortened path could name a different script.
  char16_t opened[plat::kMaxPath];
  if (length == 0 || !wstr::CopyN(opened, plat::kMaxPath, start, length)) return;
  stream = plat::StreamOpen(opened, u"rt");
  if (stream != nullptr) wstr::Copy(path, plat::kMaxPath, opened);
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
  for (;;) {
    if (plat::StreamReadLine(chunk, kReadChunk, stream) == nullptr) {
      // A last line without line feed is complete once the end of file is met.
      if (plat::StreamAtEof(stream) && !plat::StreamHasError(stream)) {
        if (readAny) ++physicalLines;
        return readAny ? kLineRead : kLineEndOfFile;
      }
      return kLineReadError;
    }
    readAny = true;
    const std::size_t length = wstr::Len(chunk);
    if (length > 0 && chunk[length - 1] == u'\n') {
      line.append(chunk, length - 1);
      ++physicalLines;
      return kLineRead;
    }
    line.append(chunk, length);
    // A chunk short of the capacity without a line feed ended at the end of
    // the file (or at a zero character, which ends the line's text).
    if (length < static_cast<std::size_t>(kReadChunk - 1)) {
      ++physicalLines;
      return kLineRead;
    }
  }
}

void TrimRight(std::u16string& line) {
  std::size_t length = line.size();
  while (length > 0 && IsBlank(line[length - 1])) --length;
  line.resize(length);
}

void StripComment(std::u16string& line) {
  TrimRight(line);
  // The last ";" starts a comment unless a double quote stands behind it.
  const std::size_t semicolon = line.rfind(u';');
  if (semicolon == std::u16string::npos) return;
  const std::size_t quote = line.rfind(u'"');
  if (quote != std::u16string::npos && quote > semicolon) return;
  line.resize(semicolon);
  TrimRight(line);
}

int ReadLogicalLine(CScriptFile& file, std::u16string& physical, std::u16string& logical) {
  logical.clear();
  int result = file.ReadLine(physical);
  if (result != kLineRead) return result;
  // Only the first physical line loses its comment and trailing blanks;
  // continuation lines are joined as read.
  StripComment(physical);
  while (!physical.empty() && physical.back() == u'\\') {
    physical.pop_back();
    logical += physical;
    result = file.ReadLine(physical);
    if (result == kLineEndOfFile) return kLineRead;
    if (result == kLineReadError) return kLineReadError;
  }
  if (logical.empty())
    logical.swap(physical);
  else
    logical += physical;
  return kLineRead;
}
