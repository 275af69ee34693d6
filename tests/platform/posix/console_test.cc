// Debug output and the progress dialog of the simulator, on a pipe and on a terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/console.h"
#include "platform/posix/diagnostics.h"
#include "tests/platform/posix/test_device.h"
#include "resources/resource.h"

namespace {

// What the installer does with its dialog, with debug messages in between.
void DriveDialog() {
  plat::DebugOutput(u"\r\n----- start -----\r\n");
  const plat::DialogTemplate* dialogTemplate = plat::DialogTemplateLoad(nullptr, IDD_PROGRESS);
  plat::Window* dialog = plat::DialogCreate(nullptr, dialogTemplate, nullptr, 0);
  plat::Window* dashes = plat::DialogItem(dialog, IDC_PROGRESS_DASHES);
  plat::WindowSetText(dashes, u"-");
  plat::WindowRepaint(dialog);
  plat::DebugOutput(u"Copying files from \\Windows\\BrixCopy\r\n");
  plat::DebugOutput(u"no line end");
  plat::WindowSetText(dashes, u"--");
  plat::WindowRepaint(dashes);
  plat::DebugOutput(u" caf\u00e9\r\n");
  // A script line may carry control characters into a message.
  plat::DebugOutput(u"'\x1b]0;t\x07\x1b[2J\u009b1m\x7f\t'\r\n");
  plat::WindowDestroy(dialog);
  plat::DebugOutput(u"----- end ----- \r\n\n");
}

constexpr const char* kDebugText =
    "\r\n----- start -----\r\nCopying files from \\Windows\\BrixCopy\r\nno line end caf\xc3\xa9\r\n"
    "'\x1b]0;t\x07\x1b[2J\xc2\x9b" "1m\x7f\t'\r\n"
    "----- end ----- \r\n\n";
// The same on a terminal: the controls the terminal would obey are shown instead.
constexpr const char* kTerminalText =
    "\r\n----- start -----\r\nCopying files from \\Windows\\BrixCopy\r\nno line end caf\xc3\xa9\r\n"
    "'^[]0;t^G^[[2JM-^[1m^?\t'\r\n"
    "----- end ----- \r\n\n";

// Runs body in a child whose stderr is fd; returns everything read from readFd.
std::string RunChild(int fd, int readFd, void (*body)() = DriveDialog) {
  const pid_t child = fork();
  if (child == 0) {
    if (isatty(fd)) {
      termios mode{};
      tcgetattr(fd, &mode);
      cfmakeraw(&mode);
      tcsetattr(fd, TCSANOW, &mode);
    }
    dup2(fd, 2);
    body();
    _exit(0);
  }
  close(fd);
  std::string text;
  char buffer[4096];
  for (;;) {
    pollfd p{readFd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) break;
    const ssize_t n = read(readFd, buffer, sizeof buffer);
    if (n <= 0) break;  // EOF on a pipe, EIO on a terminal whose other side closed
    text.append(buffer, static_cast<std::size_t>(n));
  }
  waitpid(child, nullptr, 0);
  return text;
}

// Runs body with stderr on a terminal of the given height.
std::string RunOnTerminal(unsigned short rows, void (*body)() = DriveDialog) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no terminal";
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  winsize size{};
  size.ws_row = rows;
  size.ws_col = 80;
  if (slave < 0 || ioctl(slave, TIOCSWINSZ, &size) != 0) return "no terminal";
  const std::string text = RunChild(slave, master, body);
  close(master);
  return text;
}

// Terminal output split into the text outside the box's cursor-saving drawings
// and the drawings themselves.
struct Split {
  std::string text;
  std::vector<std::string> drawings;
};

Split SplitTerminalOutput(const std::string& output) {
  const std::string makeRoom = "\x1b" "D\x1b" "D\x1b" "D\x1b" "D\x1b[4A";
  Split split;
  for (std::size_t i = 0; i < output.size();) {
    if (output.compare(i, 2, "\x1b" "7") == 0) {
      const std::size_t end = output.find("\x1b" "8", i);
      if (end == std::string::npos) break;
      split.drawings.push_back(output.substr(i + 2, end - i - 2));
      i = end + 2;
    } else if (output.compare(i, makeRoom.size(), makeRoom) == 0) {
      i += makeRoom.size();
    } else {
      split.text += output[i++];
    }
  }
  return split;
}

// The drawing of a box in the bottom four rows of a 24-row terminal.
std::string BoxDrawing(const char* dashes) {
  const std::vector<std::string> lines = plat::posix::RenderBox({"Copying files, please wait...", dashes});
  std::string out;
  for (int i = 0; i < 4; ++i) out += "\x1b[" + std::to_string(21 + i) + ";1H\x1b[2K" + lines[i];
  return out;
}

TEST(PosixConsole, DebugTextIsExactWhereStderrIsNoTerminal) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string text = RunChild(fds[1], fds[0]);
  close(fds[0]);
  EXPECT_EQ(text, kDebugText);
}

TEST(PosixConsole, TerminalKeepsTheBoxBelowTheScrollingText) {
  const Split split = SplitTerminalOutput(RunOnTerminal(24));
  EXPECT_EQ(split.text, kTerminalText);
  const std::vector<std::string> expected = {
      "\x1b[1;20r",  // debug text scrolls in rows 1 to 20
      BoxDrawing(""),
      BoxDrawing("-"),
      BoxDrawing("--"),
      "\x1b[r\x1b[21;1H\x1b[2K\x1b[22;1H\x1b[2K\x1b[23;1H\x1b[2K\x1b[24;1H\x1b[2K",
  };
  EXPECT_EQ(split.drawings, expected);
}

TEST(PosixConsole, TerminalTooSmallForTheBoxGetsOnlyText) {
  EXPECT_EQ(RunOnTerminal(5), kTerminalText);
}

void TwoDiagnostics() {
  plat::posix::Diagnose("registry: first\x1b[2J");
  plat::posix::Diagnose("registry: second\nline");
}

// Diagnostics go to the device's log, one line each; a terminal gets one pointer to it,
// a pipe nothing; without a usable log (here one with a second name) the terminal gets them.
TEST(PosixDiagnostics, LoggedOutsideTheDebugOutput) {
  brixtest::TestDevice device;
  const std::string log = device.folder() + "/simulator.log";
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EQ(RunChild(fds[1], fds[0], TwoDiagnostics), "");
  close(fds[0]);
  EXPECT_EQ(RunOnTerminal(24, TwoDiagnostics), "device simulator: see " + brixtest::Canonical(log) + "\n");
  const std::string lines = brixtest::ReadHost(log);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4) << lines;
  EXPECT_NE(lines.find("]: registry: first^[[2J\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("]: registry: second^Jline\n"), std::string::npos) << lines;

  ASSERT_EQ(link(log.c_str(), (device.folder() + "/second-name").c_str()), 0);
  EXPECT_EQ(RunOnTerminal(24, TwoDiagnostics),
            "device simulator: registry: first^[[2J\ndevice simulator: registry: second^Jline\n");
  EXPECT_EQ(brixtest::ReadHost(log), lines);
}

TEST(PosixConsole, ControlCharactersShownAsCatShowsThem) {
  struct Case {
    const char* text;
    bool keepLineBreaks;
    const char* shown;
  } cases[] = {
      {"a\x01\x1f\x7f" "b", true, "a^A^_^?b"},
      {"\t\r\n", true, "\t\r\n"},
      {"\t\r\n", false, "^I^M^J"},
      {"\xc2\x80\xc2\x9f\xc2\xa0\xc3\xa9", true, "M-^@M-^_\xc2\xa0\xc3\xa9"},
      {"\xc2", true, "\xc2"},
  };
  for (const Case& c : cases) EXPECT_EQ(plat::posix::VisibleControls(c.text, c.keepLineBreaks), c.shown) << c.text;
}

TEST(PosixConsole, BoxCentresItsRows) {
  const std::vector<std::string> expected = {
      "+------+",
      "| abcd |",
      "|  -   |",
      "| \xc3\xa9t\xc3\xa9  |",
      "+------+",
  };
  EXPECT_EQ(plat::posix::RenderBox({"abcd", "-", "\xc3\xa9t\xc3\xa9"}), expected);
}

TEST(PosixDialog, TemplateAndControls) {
  EXPECT_EQ(plat::DialogTemplateLoad(nullptr, 999), nullptr);
  EXPECT_EQ(plat::LastError(), 1814u);
  const plat::DialogTemplate* dialogTemplate = plat::DialogTemplateLoad(nullptr, IDD_PROGRESS);
  ASSERT_NE(dialogTemplate, nullptr);
  static int initCalls = 0;
  static std::intptr_t initParameter = 0;
  plat::DialogProc proc = [](plat::Window*, std::uint32_t message, std::uintptr_t, std::intptr_t lParam) {
    if (message == 0x0110) ++initCalls, initParameter = lParam;
    return std::intptr_t{0};
  };
  plat::Window* dialog = plat::DialogCreate(nullptr, dialogTemplate, proc, 5);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(initCalls, 1);
  EXPECT_EQ(initParameter, 5);
  EXPECT_NE(plat::DialogItem(dialog, IDC_PROGRESS_DASHES), nullptr);
  EXPECT_NE(plat::DialogItem(dialog, -1), nullptr);
  EXPECT_EQ(plat::DialogItem(dialog, 1001), nullptr);
  EXPECT_TRUE(plat::WindowDestroy(dialog));
  EXPECT_FALSE(plat::WindowSetText(nullptr, u"x"));
  EXPECT_FALSE(plat::WindowRepaint(nullptr));
}

}  // namespace
