// Debug output and the progress dialog of the simulator, on a pipe and on a terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix_console.h"
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
  plat::WindowDestroy(dialog);
  plat::DebugOutput(u"----- end ----- \r\n\n");
}

constexpr const char* kDebugText =
    "\r\n----- start -----\r\nCopying files from \\Windows\\BrixCopy\r\nno line end caf\xc3\xa9\r\n"
    "----- end ----- \r\n\n";

// Runs DriveDialog in a child whose stderr is fd; returns everything read from readFd.
std::string RunChild(int fd, int readFd, bool raw) {
  const pid_t child = fork();
  if (child == 0) {
    if (raw) {
      termios mode{};
      tcgetattr(fd, &mode);
      cfmakeraw(&mode);
      tcsetattr(fd, TCSANOW, &mode);
    }
    dup2(fd, 2);
    DriveDialog();
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

TEST(PosixConsole, DebugTextIsExactWhereStderrIsNoTerminal) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string text = RunChild(fds[1], fds[0], false);
  close(fds[0]);
  EXPECT_EQ(text, kDebugText);
}

TEST(PosixConsole, TerminalShowsTheBoxBelowIntactDebugLines) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  const std::string text = RunChild(slave, master, true);
  close(master);

  const std::string erase = "\x1b[4A\r\x1b[J";
  const std::string empty = plat::posix::RenderBox({"Copying files, please wait...", ""});
  const std::string one = plat::posix::RenderBox({"Copying files, please wait...", "-"});
  const std::string two = plat::posix::RenderBox({"Copying files, please wait...", "--"});
  const std::string expected = std::string("\r\n----- start -----\r\n") + empty + erase + one + erase +
                               "Copying files from \\Windows\\BrixCopy\r\n" + one + erase + "no line end" +
                               " caf\xc3\xa9\r\n" + two + erase + "----- end ----- \r\n\n";
  EXPECT_EQ(text, expected);
}

TEST(PosixConsole, BoxCentresItsRows) {
  EXPECT_EQ(plat::posix::RenderBox({"abcd", "-", "\xc3\xa9t\xc3\xa9"}),
            "+------+\r\n"
            "| abcd |\r\n"
            "|  -   |\r\n"
            "| \xc3\xa9t\xc3\xa9  |\r\n"
            "+------+\r\n");
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
