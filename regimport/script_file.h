// The registry script at the level of lines: the open script file, comment
// and blank clean-up, and the joining of physical lines into logical lines.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"
#include "regimport/decisions.h"

namespace brixparse {

// Results of reading a line.
inline constexpr int kLineRead = 0;
inline constexpr int kLineEndOfFile = 1;
inline constexpr int kLineReadError = 2;
// A line longer than the file's maxLineUnits was read to its end; its text is not kept.
inline constexpr int kLineTooLong = 3;

// Longest line kept, in characters: four per byte of the largest value data,
// enough for a byte list of 1 MiB written "xx," over indented continuation
// lines. A longer line cannot give a value that may be stored.
inline constexpr std::size_t kMaxLineUnits = std::size_t{4} << 20;

// What an over-long physical line holds at its ends, gathered while its
// text is passed over: enough for the continuation and key-line rules.
struct LineEnds {
  char16_t firstNonBlank = 0;     // first unit that is no space or tab; 0 when none
  char16_t last = 0;              // last unit as read; 0 for an empty line
  char16_t lastAfterComment = 0;  // last unit once StripComment has run; 0 when none is left
  // Takes the next units of the line into account.
  void Feed(const char16_t* units, std::size_t count);

 private:
  bool seenNonBlank_ = false;
  char16_t lastNonBlank_ = 0;
  char16_t beforeSemicolon_ = 0;  // last unit that is no blank in front of the last ";"
  bool semicolon_ = false;        // a ";" was met
  bool quoteAfterSemicolon_ = false;
};

// The open registry script; closes its stream when destroyed.
class CScriptFile {
 public:
  CScriptFile() = default;
  ~CScriptFile();
  CScriptFile(const CScriptFile&) = delete;
  CScriptFile& operator=(const CScriptFile&) = delete;

  // Opens the script named by the command line (optionally in double quotes) in text mode;
  // observer, when not nullptr, is told what of the command line is not part of the path.
  void Open(const char16_t* commandLine, LineObserver* observer = nullptr);
  // Closes the stream if one is open.
  void Close();
  // Reads one whole physical line without its line feed: kLineRead, kLineEndOfFile, kLineReadError,
  // or kLineTooLong (line left empty, overLong describes the line).
  int ReadLine(std::u16string& line);

  plat::Stream* stream = nullptr;       // the open script, or none
  char16_t path[plat::kMaxPath] = {};   // the path opened; set only when the open succeeded
  LineEnds overLong;                    // the ends of the last line read as kLineTooLong
  std::size_t maxLineUnits = kMaxLineUnits;  // longest line kept; lowered only by tests
  std::size_t physicalLines = 0;        // physical lines read so far
};

// Removes trailing spaces and tabs.
void TrimRight(std::u16string& line);
// Removes a comment: the last ";" and what follows it, unless a double quote follows it.
void StripComment(std::u16string& line);
// Reads the next logical line (comment removed, continuations joined) into logical;
// physical is scratch space. kLineRead, kLineEndOfFile, kLineReadError, or kLineTooLong
// when the joined line exceeds file.maxLineUnits (logical then holds its first unit that is
// no blank, or nothing). trace, when not nullptr, learns where the line's units stand and is told
// the reader's lenient decisions.
int ReadLogicalLine(CScriptFile& file, std::u16string& physical, std::u16string& logical,
                    LineTrace* trace = nullptr);
// True when line begins, blanks aside, with "[": it is meant as a key line.
bool BeginsKeyLine(const std::u16string& line);

}  // namespace brixparse
