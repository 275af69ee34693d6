// The simulator's stderr: debug text, and on a terminal the progress dialog drawn
// as a small box that stays below the debug text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace plat::posix {

// Writes text to stderr with one write() call (continued only after a partial write);
// a box on show is erased first and drawn again below the text.
void ConsoleWrite(std::string_view text);
// Shows rows of text in a box below the debug text, replacing the box on show;
// no effect when stderr is not a terminal.
void ConsoleShowBox(const std::vector<std::string>& rows);
// Erases the box on show, if any.
void ConsoleHideBox();
// The box for rows: a frame around the rows, each centred; every line ends in CR LF, so it
// draws alike whether or not the terminal adds the carriage return itself.
std::string RenderBox(const std::vector<std::string>& rows);

}  // namespace plat::posix
