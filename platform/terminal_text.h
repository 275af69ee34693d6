// Control characters made visible, for text shown on a terminal: the device
// simulator's debug output and diagnostics, and what the host tool prints.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// UTF-8 text with its control characters shown as `cat -v` shows them (ESC as ^[, DEL as
// ^?, U+0080 to U+009F as M-^@ to M-^_); tab, line feed and carriage return are kept
// unless keepLineBreaks is false.
std::string VisibleControls(std::string_view text, bool keepLineBreaks = true);

}  // namespace plat
