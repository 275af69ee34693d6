// The script runner's rules for one line of the install script: how much of
// it is read at once, which lines are skipped, which action a line's options
// choose and which sources are wildcards.
#pragma once

#include "installer/decisions.h"
#include "installer/messages.h"

namespace brixcopy {

// Capacity of one read of the script, terminator included: a longer physical
// line arrives in pieces of 259 characters, each handled as a line.
inline constexpr int kScriptReadCapacity = static_cast<int>(kPathChars);

// What a parsed line does.
enum class LineAction { kRegister, kRun, kRunAndWait, kCopy };

// The text of a line as read that the runner parses (leading spaces removed), or nullptr when it is skipped.
// observer, when not nullptr, is told when a skipped line holds more than a line end.
const char16_t* ScriptLineText(const char16_t* line, LineObserver* observer = nullptr);

// The action the options choose: "-r", "-e" and "-x" tested in that order; none of them copies.
// observer, when not nullptr, is told what of the options is passed over.
LineAction ActionOf(const char16_t* options, LineObserver* observer = nullptr);

// True when a copy line's parsed source is a wildcard: its last character is '*'.
bool IsWildcardSource(const char16_t* source);

}  // namespace brixcopy
