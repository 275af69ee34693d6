// The failures an install reported: read from the debug output, where the
// installer and the importer it starts write each one with a fixed message.
#pragma once

#include <string>
#include <vector>

namespace brixdev {

enum class FailureKind {
  kCopy,        // a file that was not copied, or not completely
  kFolder,      // a wildcard line whose folder could not be searched
  kScript,      // the install script stopped (a malformed line, a read error) or was not found
  kStart,       // a program, CAB package or VB application that was not started
  kRegister,    // a library that was not registered
  kImporter,    // a registry script the importer reported on
  kRunControl,  // the installer could not take its mutex or counter file, or another one ran
};

struct Failure {
  FailureKind kind;
  std::string message;  // the message's first line, as written
};

// The failures reported in a debug output (UTF-8, CR LF line ends as written).
std::vector<Failure> FailuresIn(const std::string& debugText);

// One line saying what failed, such as "2 copies failed, the script stopped at a malformed line"; empty for none.
std::string FailureSummary(const std::vector<Failure>& failures);

// The word JSON gives a kind: "copy", "folder", "script", "start", "register", "importer", "run-control".
const char* FailureWord(FailureKind kind);

}  // namespace brixdev
