// Checks of a registry script: what the importer will store from each line and
// where that will surprise, found with the importer's own reader and parser.
#pragma once

#include <functional>
#include <string>

#include "brixdev/checks/diagnostics.h"
#include "regimport/decisions.h"

namespace brixdev {

// What became of a registry script.
enum class ScriptCheck { kChecked, kCannotOpen, kCannotRead };

// Checks the script that the importer opens for commandLine (by its own command-line rule) on the
// active check device; nameOf turns the device path opened into the name the findings carry (an
// empty name: the script was checked already, and is not again). commandLineObserver, when not
// nullptr, is told what of the command line the importer does not take for the path.
ScriptCheck CheckRegistryScript(const std::u16string& commandLine,
                                const std::function<std::string(const std::u16string&)>& nameOf, Diagnostics* out,
                                brixparse::LineObserver* commandLineObserver = nullptr);

}  // namespace brixdev
