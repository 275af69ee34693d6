// The manual page and the bash completion of brixdev, written from the command
// table at build time (brixdev_reference), so that they say what --help says.
#pragma once

#include <string>

namespace brixdev {

// The manual page brixdev(1), in man(7) markup.
std::string ManualPage();
// A bash completion script for brixdev: commands, options, option values, finding ids and paths.
std::string BashCompletion();

}  // namespace brixdev
