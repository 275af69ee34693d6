// The simulator's stderr: debug text, and on a terminal the progress dialog drawn
// as a small box pinned to the bottom rows, below the scrolling debug text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/terminal_text.h"

namespace plat::posix {

// Writes text to stderr with one write() call (continued only after a partial write).
void ConsoleWrite(std::string_view text);
// True when stderr is a terminal.
bool ConsoleIsTerminal();
// Control characters made visible for the terminal (platform/terminal_text.h).
using plat::VisibleControls;
// Shows rows of text in a box at the bottom of the terminal, replacing the box on show;
// no effect when stderr is not a terminal or the terminal is too small.
void ConsoleShowBox(const std::vector<std::string>& rows);
// Removes the box on show, if any, and gives the terminal its full height back.
void ConsoleHideBox();
// The lines of the box for rows: a frame around the rows, each centred.
std::vector<std::string> RenderBox(const std::vector<std::string>& rows);

}  // namespace plat::posix
