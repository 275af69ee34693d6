// Text from a device or a package shown on a terminal. A terminal obeys the
// control characters in what it is sent, so a file name or script line could
// clear the screen or set the window title of whoever reads it; shown as
// `cat -v` shows them, they are only read.
#include "platform/terminal_text.h"

namespace plat {

std::string VisibleControls(std::string_view text, bool keepLineBreaks) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool lineBreak = c == '\t' || c == '\n' || c == '\r';
    if (c < 0x20 && !(lineBreak && keepLineBreaks)) {
      out += '^';
      out += static_cast<char>(c + 0x40);
    } else if (c == 0x7F) {
      out += "^?";
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // U+0080..U+009F in UTF-8: the C1 controls, CSI among them, which some terminals obey.
      out += "M-^";
      out += static_cast<char>(static_cast<unsigned char>(text[++i]) - 0x80 + 0x40);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace plat
