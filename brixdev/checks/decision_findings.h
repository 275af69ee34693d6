// The findings made of the programs' own lenient decisions: each decision the
// importer or the installer reports becomes a finding with an id of the tables
// in docs/brixdev.md, a message that says what the program did, and a hint how
// to write what was meant where there is one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "brixdev/checks/diagnostics.h"
#include "installer/decisions.h"
#include "regimport/decisions.h"

namespace brixparse {
struct CLineEntry;
}

namespace brixdev {

// What a finding says.
struct FindingText {
  Severity severity = Severity::kWarning;
  const char* id = "";
  std::string message;  // empty: the decision is no finding where it was made
};

// What a registry-script finding is told about the line its decision was made on.
struct RegistryLine {
  std::u16string_view text;                        // the logical line, as the entry parser got it
  std::u16string_view firstRaw;                    // its first physical line as read
  const brixparse::CLineEntry* entry = nullptr;    // what the line gave, nullptr for nothing
  std::size_t count = 1;                           // how many decisions of this kind the line holds
};

// The finding of an importer decision about text (the units it concerns).
FindingText RegistryFinding(brixparse::Decision decision, std::u16string_view text, const RegistryLine& line);

// Every id an importer decision can be reported with.
std::vector<const char*> FindingIds(brixparse::Decision decision);
// Every id an installer decision can be reported with.
std::vector<const char*> FindingIds(brixcopy::Decision decision);

// How many kinds of decision each program has (the enumerations run from 0).
inline constexpr int kImporterDecisions = static_cast<int>(brixparse::Decision::kListSeparator) + 1;
inline constexpr int kInstallerDecisions = static_cast<int>(brixcopy::Decision::kVbInEntry) + 1;

// "error 3, the path does not exist": a device error number with its meaning.
std::string DeviceError(std::uint32_t error);

}  // namespace brixdev
