// Debug formatting shared by every backend; each backend supplies DebugOutput.
#include <cstdint>
#include <new>
#include <string>

#include "platform/platform.h"

namespace plat {

namespace {

void AppendDecimal(std::u16string& out, std::int32_t value) {
  // Widened first so that the most negative value has a positive counterpart.
  std::int64_t v = value;
  if (v < 0) {
    out.push_back(u'-');
    v = -v;
  }
  char16_t digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) out.push_back(digits[--n]);
}

}  // namespace

void DebugPrintArgs(const char16_t* fmt, const DebugArg* args, std::size_t count) try {
  if (fmt == nullptr) return;
  std::u16string out;
  std::size_t next = 0;
  // Conversions beyond the arguments given print as an empty string or 0 instead of
  // reading whatever follows the argument list.
  auto take = [&]() -> const DebugArg* { return next < count ? &args[next++] : nullptr; };
  for (const char16_t* p = fmt; *p != 0; ++p) {
    if (*p != u'%') {
      out.push_back(*p);
      continue;
    }
    const char16_t conv = p[1];
    if (conv == u'%') {
      out.push_back(u'%');
      ++p;
    } else if (conv == u's') {
      const DebugArg* arg = take();
      if (arg != nullptr && arg->isText) {
        out += arg->text != nullptr ? arg->text : u"(null)";
      } else if (arg != nullptr) {
        AppendDecimal(out, arg->number);
      }
      ++p;
    } else if (conv == u'd' || conv == u'i') {
      const DebugArg* arg = take();
      AppendDecimal(out, arg != nullptr && !arg->isText ? arg->number : 0);
      ++p;
    } else {
      // Unknown conversions (and a final lone '%') are kept as written.
      out.push_back(u'%');
    }
  }
  DebugOutput(out.c_str());
} catch (const std::bad_alloc&) {
  // Out of memory here leaves nothing to report with.
}

}  // namespace plat
