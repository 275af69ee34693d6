// The simulator's own diagnostics, kept out of the debug output, which carries
// the programs' messages only.
#pragma once

#include <string>

namespace plat::posix {

// Name of the diagnostics log in the device folder.
inline constexpr const char* kDiagnosticsLog = "simulator.log";

// Records a diagnostic: one line appended to DIR/simulator.log; where stderr is a
// terminal, the first diagnostic of the process also leaves a pointer to the log
// there. Without a usable log the diagnostic itself goes to the terminal, if any.
void Diagnose(const std::string& text);

}  // namespace plat::posix
