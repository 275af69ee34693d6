// The box lives in the terminal's bottom rows, outside a scroll region that
// covers the rows above it. Debug text, ours or that of programs we started on
// the same terminal, scrolls inside the region and never touches the box, and
// drawing the box never touches debug text: each drawing saves the cursor,
// writes the box rows at their absolute places and restores the cursor.
#include "platform/posix/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace plat::posix {
namespace {

constexpr const char* kSaveCursor = "\x1b" "7";
constexpr const char* kRestoreCursor = "\x1b" "8";
constexpr const char* kIndex = "\x1b" "D";  // down one line, scrolling at the bottom; keeps the column
constexpr int kMinTextRows = 2;            // debug text keeps at least this many rows

struct Console {
  std::mutex lock;
  int boxRows = 0;   // terminal rows the box occupies now; 0 when none is on show
  int height = 0;    // terminal height the scroll region was set for
  bool exitHookSet = false;
};

Console& TheConsole() {
  static Console console;
  return console;
}

void WriteAll(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(STDERR_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to report a failing stderr
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

int TerminalHeight() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_row;
}

std::size_t DisplayWidth(std::string_view text) {
  std::size_t width = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++width;
  return width;
}

std::string MoveTo(int row) { return "\x1b[" + std::to_string(row) + ";1H"; }

// Clears the box rows and lifts the scroll region. Caller holds the lock.
void Remove(Console& console, std::string* out) {
  if (console.boxRows == 0) return;
  *out += kSaveCursor;
  *out += "\x1b[r";
  for (int i = 0; i < console.boxRows; ++i) *out += MoveTo(console.height - console.boxRows + 1 + i) + "\x1b[2K";
  *out += kRestoreCursor;
  console.boxRows = 0;
}

// A program that ends with its box on show must not leave the terminal's scroll region behind.
void RemoveAtExit() { ConsoleHideBox(); }

}  // namespace

std::vector<std::string> RenderBox(const std::vector<std::string>& rows) {
  std::size_t width = 0;
  for (const std::string& row : rows) width = std::max(width, DisplayWidth(row));
  const std::string border = "+" + std::string(width + 2, '-') + "+";
  std::vector<std::string> lines{border};
  for (const std::string& row : rows) {
    const std::size_t space = width - DisplayWidth(row);
    lines.push_back("| " + std::string(space / 2, ' ') + row + std::string(space - space / 2, ' ') + " |");
  }
  lines.push_back(border);
  return lines;
}

bool ConsoleIsTerminal() { return isatty(STDERR_FILENO) != 0; }

void ConsoleWrite(std::string_view text) {
  Console& console = TheConsole();
  // Held so that a box drawn by another thread never lands inside a message.
  std::lock_guard<std::mutex> hold(console.lock);
  WriteAll(text);
}

void ConsoleShowBox(const std::vector<std::string>& rows) {
  if (isatty(STDERR_FILENO) == 0) return;
  Console& console = TheConsole();
  std::lock_guard<std::mutex> hold(console.lock);
  const std::vector<std::string> lines = RenderBox(rows);
  const int boxRows = static_cast<int>(lines.size());
  const int height = TerminalHeight();
  std::string out;
  if (height < boxRows + kMinTextRows) {
    Remove(console, &out);
    WriteAll(out);
    return;
  }
  if (console.boxRows != boxRows || console.height != height) {
    Remove(console, &out);
    // Make room: scroll the text up by the box's height without moving off the cursor's column.
    for (int i = 0; i < boxRows; ++i) out += kIndex;
    out += "\x1b[" + std::to_string(boxRows) + "A";
    out += kSaveCursor;
    out += "\x1b[1;" + std::to_string(height - boxRows) + "r";
    out += kRestoreCursor;
    console.boxRows = boxRows;
    console.height = height;
    if (!console.exitHookSet) console.exitHookSet = std::atexit(RemoveAtExit) == 0;
  }
  out += kSaveCursor;
  for (int i = 0; i < boxRows; ++i) out += MoveTo(height - boxRows + 1 + i) + "\x1b[2K" + lines[i];
  out += kRestoreCursor;
  WriteAll(out);
}

void ConsoleHideBox() {
  Console& console = TheConsole();
  std::lock_guard<std::mutex> hold(console.lock);
  std::string out;
  Remove(console, &out);
  WriteAll(out);
}

}  // namespace plat::posix
