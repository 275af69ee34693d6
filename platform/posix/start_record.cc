#include "platform/posix/start_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/posix/device_state.h"
#include "platform/utf.h"

namespace plat::posix {
namespace {

std::string Escaped(const char16_t* text) {
  std::string out;
  for (const char c : utf::ToUtf8Lenient(text)) {
    if (c == '%' || c == '\t' || c == '\r' || c == '\n') {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

void RecordStart(const char16_t* application, const char16_t* commandLine) {
  const std::string path = CurrentDeviceState().context.startRecord;
  if (path.empty()) return;
  std::string line = Escaped(application);
  if (commandLine != nullptr) line += "\t" + Escaped(commandLine);
  line += "\n";
  // One appending write per start, so that the lines of concurrent programs never mix.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const ssize_t written = write(fd, line.data(), line.size());
  static_cast<void>(written);  // a record that cannot be written only misses from the record
  close(fd);
}

}  // namespace plat::posix
