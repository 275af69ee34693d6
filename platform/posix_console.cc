// The box is drawn only when the cursor stands at the start of a line, that is
// after debug text ending in a line feed: erasing it then is a plain "cursor up
// over its rows, clear to the end of the screen", which cannot touch debug text.
// While a debug message has left a line open, the box waits for the next line end.
#include "platform/posix_console.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace plat::posix {
namespace {

struct Console {
  std::mutex lock;
  std::vector<std::string> rows;
  bool wanted = false;      // a box is on show (drawn or waiting for a line end)
  std::size_t drawnRows = 0;  // terminal rows of the box drawn now; 0 when none
  bool atLineStart = true;
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

std::size_t DisplayWidth(std::string_view text) {
  std::size_t width = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++width;
  return width;
}

void Erase(Console& console, std::string* out) {
  if (console.drawnRows == 0) return;
  *out += "\x1b[" + std::to_string(console.drawnRows) + "A\r\x1b[J";
  console.drawnRows = 0;
}

void Draw(Console& console, std::string* out) {
  if (!console.wanted || !console.atLineStart) return;
  *out += RenderBox(console.rows);
  console.drawnRows = console.rows.size() + 2;
}

}  // namespace

std::string RenderBox(const std::vector<std::string>& rows) {
  std::size_t width = 0;
  for (const std::string& row : rows) width = std::max(width, DisplayWidth(row));
  const std::string border = "+" + std::string(width + 2, '-') + "+\r\n";
  std::string out = border;
  for (const std::string& row : rows) {
    const std::size_t space = width - DisplayWidth(row);
    out += "| " + std::string(space / 2, ' ') + row + std::string(space - space / 2, ' ') + " |\r\n";
  }
  return out + border;
}

void ConsoleWrite(std::string_view text) {
  Console& console = TheConsole();
  std::lock_guard<std::mutex> hold(console.lock);
  if (text.empty()) return;
  if (!console.wanted) {
    console.atLineStart = text.back() == '\n';
    WriteAll(text);
    return;
  }
  std::string out;
  Erase(console, &out);
  out += text;
  console.atLineStart = text.back() == '\n';
  Draw(console, &out);
  WriteAll(out);
}

void ConsoleShowBox(const std::vector<std::string>& rows) {
  if (isatty(STDERR_FILENO) == 0) return;
  Console& console = TheConsole();
  std::lock_guard<std::mutex> hold(console.lock);
  std::string out;
  Erase(console, &out);
  console.rows = rows;
  console.wanted = true;
  Draw(console, &out);
  WriteAll(out);
}

void ConsoleHideBox() {
  Console& console = TheConsole();
  std::lock_guard<std::mutex> hold(console.lock);
  std::string out;
  Erase(console, &out);
  console.wanted = false;
  WriteAll(out);
}

}  // namespace plat::posix
