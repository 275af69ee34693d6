// The simulator's own diagnostics, kept out of the debug output, which carries
// the programs' messages only.
#pragma once

#include <string>

namespace plat::posix {

// Name of the diagnostics log in the device folder.
inline constexpr const char* kDiagnosticsLog = "simulator.log";

struct DeviceState;

// Records a diagnostic about the device of state: one line appended to DIR/simulator.log;
// where its debug output is the console and stderr a terminal, the first diagnostic of
// the process also leaves a pointer to the log there. Without a usable log the
// diagnostic itself goes to that terminal, if any.
void Diagnose(const DeviceState& state, const std::string& text);
// Records a diagnostic about the device of the context in force, as above.
void Diagnose(const std::string& text);

}  // namespace plat::posix
