// The registry script at the level of lines: the open script file, comment
// and blank clean-up, and the joining of physical lines into logical lines.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

// Results of reading a line.
inline constexpr int kLineRead = 0;
inline constexpr int kLineEndOfFile = 1;
inline constexpr int kLineReadError = 2;

// The open registry script; closes its stream when destroyed.
class CScriptFile {
 public:
  CScriptFile() = default;
  ~CScriptFile();
  CScriptFile(const CScriptFile&) = delete;
  CScriptFile& operator=(const CScriptFile&) = delete;

  // Opens the script named by the command line (optionally in double quotes) in text mode.
  void Open(const char16_t* commandLine);
  // Closes the stream if one is open.
  void Close();
  // Reads one whole physical line without its line feed: kLineRead, kLineEndOfFile or kLineReadError.
  int ReadLine(std::u16string& line);

  plat::Stream* stream = nullptr;       // the open script, or none
  char16_t path[plat::kMaxPath] = {};   // the path opened; set only when the open succeeded
  std::size_t physicalLines = 0;        // physical lines read so far
};

// Removes trailing spaces and tabs.
void TrimRight(std::u16string& line);
// Removes a comment: the last ";" and what follows it, unless a double quote follows it.
void StripComment(std::u16string& line);
// Reads the next logical line (comment removed, continuations joined) into logical;
// physical is scratch space. kLineRead, kLineEndOfFile or kLineReadError.
int ReadLogicalLine(CScriptFile& file, std::u16string& physical, std::u16string& logical);
