// The bytes of each value form, and what reading them decided: strings,
// dwords, byte and character lists, string lists.
#include "regimport/value_forms.h"

#include <array>
#include <string>

#include "regimport/brixparse.h"

namespace brixparse::forms {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The value of a hexadecimal digit, or -1 for any other character.
int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

void PushUnit(std::vector<std::uint8_t>& data, char16_t unit) {
  data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  data.push_back(static_cast<std::uint8_t>(unit >> 8));
}

// True when data can take n more bytes without growing beyond the largest
// value; a value that would is given up at once, before its data is built.
bool Fits(const std::vector<std::uint8_t>& data, std::size_t n) {
  return n <= kMaxValueData - data.size();
}

// What the reading of a dword number decided: no digit, too many, an unusual
// spelling, or text left behind it.
void ReportDword(const char16_t* rest, const NumberScan& scan, const Reporter& report) {
  const char16_t* end = EndOf(rest);
  const char16_t* number = SkipBlanks(rest, end);
  const char16_t* after = scan.end;
  if (scan.digits == scan.end && !scan.zero) {
    // Nothing numeric: the word up to the next blank stands for the 0 stored.
    after = number;
    while (after < end && !IsBlank(*after)) ++after;
    report(Decision::kNumberNotHex, number, after);
  } else if (scan.end - scan.digits > 8) {
    report(Decision::kNumberTooLong, scan.digits, scan.end);
  } else {
    bool plain = scan.end - number <= 8;
    for (const char16_t* c = number; plain && c < scan.end; ++c) plain = HexDigit(*c) >= 0;
    if (!plain) report(Decision::kNumberForm, number, scan.end);
  }
  const char16_t* text = SkipBlanks(after, end);
  if (text < end) report(Decision::kTextAfterValue, text, end);
}

// What a character is to a number list: a bit set over the classes below,
// with a hexadecimal digit's value in the low four bits.
constexpr std::uint8_t kDigit = 0x10;      // "0"-"9", "a"-"f", "A"-"F"
constexpr std::uint8_t kLead = 0x20;       // passed over before the digits: controls, "0", "x"
constexpr std::uint8_t kSeparator = 0x40;  // "," and " "
constexpr std::uint8_t kEnd = 0x80;        // the terminator

constexpr std::array<std::uint8_t, 128> kListClass = [] {
  std::array<std::uint8_t, 128> table{};
  table[0] = kEnd;
  for (int c = 1; c < 0x20; ++c) table[c] = kLead;
  table[u','] = table[u' '] = kSeparator;
  for (int d = 0; d < 10; ++d) table[u'0' + d] = static_cast<std::uint8_t>(kDigit | d);
  for (int d = 0; d < 6; ++d) {
    table[u'a' + d] = static_cast<std::uint8_t>(kDigit | (10 + d));
    table[u'A' + d] = static_cast<std::uint8_t>(kDigit | (10 + d));
  }
  table[u'0'] |= kLead;
  table[u'x'] = kLead;
  return table;
}();

std::uint8_t ListClass(char16_t c) { return c < kListClass.size() ? kListClass[c] : 0; }

// A run of separators [run, p) of a number list is one "," between two
// numbers, and blanks only before the first number and behind the last.
void ReportSeparators(const char16_t* run, const char16_t* p, bool first, const Reporter& report) {
  int commas = 0;
  for (const char16_t* c = run; c < p; ++c) commas += *c == u',' ? 1 : 0;
  const bool between = !first && *p != 0;
  if (commas != (between ? 1 : 0)) report(Decision::kListSeparator, run, p);
}

// A word [word, end) of a number list that is not two hexadecimal digits:
// what its reading made of it.
void ReportWord(const char16_t* word, const char16_t* end, const NumberScan& scan, const Reporter& report) {
  if (scan.end != end || (scan.digits == scan.end && !scan.zero))
    report(Decision::kByteNotHex, word, end);
  else if (scan.end - scan.digits > 2)
    report(Decision::kByteOverFF, word, end);
  else
    report(Decision::kNumberForm, word, end);
}

// Byte list (wide false) or character list (wide true): one number per word
// of the rest, words separated by runs of "," and " ". Each word is read as
// HexToULong reads a text that ends with the word. Observed is a separate
// instantiation, so that the unobserved parse keeps its plain loop.
template <bool kObserved>
bool FillNumberList(const char16_t* rest, bool wide, std::vector<std::uint8_t>& data, const Reporter& report) {
  const char16_t* p = rest;
  for (bool first = true;; first = false) {
    [[maybe_unused]] const char16_t* run = p;
    while (ListClass(*p) & kSeparator) ++p;
    if constexpr (kObserved) ReportSeparators(run, p, first, report);
    if (*p == 0) return true;
    if (!Fits(data, wide ? 2 : 1)) return false;
    std::uint8_t c = ListClass(*p);
    const std::uint8_t second = ListClass(p[1]);
    if ((c & second & kDigit) && (ListClass(p[2]) & (kSeparator | kEnd))) {
      // The usual word of two digits; a leading "0" passed over adds nothing.
      data.push_back(static_cast<std::uint8_t>(((c & 0x0F) << 4) | (second & 0x0F)));
      if (wide) data.push_back(0);
      p += 2;
      continue;
    }
    [[maybe_unused]] const char16_t* word = p;
    [[maybe_unused]] NumberScan scan;
    while ((c = ListClass(*p)) & kLead) {
      if constexpr (kObserved) scan.zero = scan.zero || *p == u'0';
      ++p;
    }
    if constexpr (kObserved) scan.digits = p;
    std::uint32_t value = 0;  // wraps: only the last eight digits count
    for (; c & kDigit; c = ListClass(*++p)) value = value * 16 + (c & 0x0F);
    if constexpr (kObserved) scan.end = p;
    while (!(c & (kSeparator | kEnd))) c = ListClass(*++p);
    if constexpr (kObserved) ReportWord(word, p, scan, report);
    data.push_back(static_cast<std::uint8_t>(value & 0xFF));
    if (wide) data.push_back(0);
  }
}

// A string of a list, [q, end) up to its "," or the end of the line: its last
// unit is dropped as the closing double quote, and a double quote before it
// stays a character.
void ReportListString(const char16_t* q, const char16_t* end, const Reporter& report) {
  if (end == q || end[-1] != u'"') report(Decision::kStringUnclosed, end == q ? q : end - 1, end);
  for (const char16_t* c = q; c + 1 < end; ++c) {
    if (*c == u'"') {
      report(Decision::kQuoteInString, c, end - 1);
      break;
    }
  }
}

}  // namespace

std::uint32_t HexRange(const char16_t* p, NumberScan* scan) {
  bool zero = false;
  for (; *p != 0 && (*p <= 0x20 || *p == u'0' || *p == u'x'); ++p) zero = zero || *p == u'0';
  const char16_t* digits = p;
  std::uint32_t value = 0;
  // Wraps: only the last eight digits count.
  for (int digit; (digit = HexDigit(*p)) >= 0; ++p) value = value * 16 + static_cast<std::uint32_t>(digit);
  if (scan != nullptr) *scan = NumberScan{digits, p, zero};
  return value;
}

// String: the token [begin, end) without its first character (the opening
// double quote) and its last, then a terminator.
bool FillString(const char16_t* begin, const char16_t* end, std::vector<std::uint8_t>& data) {
  const std::size_t length = static_cast<std::size_t>(end - begin);
  const std::size_t inner = length >= 2 ? length - 2 : 0;
  if (inner + 1 > kMaxValueData / 2) return false;
  data.resize((inner + 1) * 2);
  std::uint8_t* out = data.data();
  for (std::size_t i = 1; i <= inner; ++i, out += 2) {
    out[0] = static_cast<std::uint8_t>(begin[i] & 0xFF);
    out[1] = static_cast<std::uint8_t>(begin[i] >> 8);
  }
  out[0] = 0;
  out[1] = 0;
  return true;
}

void FillDword(const char16_t* rest, std::vector<std::uint8_t>& data, const Reporter& report) {
  NumberScan scan;
  const std::uint32_t value = HexRange(rest, &scan);
  if (report) ReportDword(rest, scan, report);
  for (int shift = 0; shift < 32; shift += 8)
    data.push_back(static_cast<std::uint8_t>(value >> shift));
}

bool FillNumbers(const char16_t* rest, bool wide, std::vector<std::uint8_t>& data, const Reporter& report) {
  return report ? FillNumberList<true>(rest, wide, data, report) : FillNumberList<false>(rest, wide, data, report);
}

// String list: the character behind the ":" is skipped; each element runs to
// the next "," or the end of the line and loses its last character (the
// closing double quote); the next element starts behind the next double
// quote. Every step stays inside the line, whatever the line holds.
bool FillStringList(const char16_t* rest, std::vector<std::uint8_t>& data, const Reporter& report) {
  if (*rest != 0) {
    if (report && *rest != u'"') report(Decision::kListOpening, rest, rest + 1);
    const char16_t* q = rest + 1;
    for (;;) {
      const char16_t* end = q;
      while (*end != 0 && *end != u',') ++end;
      if (report) ReportListString(q, end, report);
      // The element's characters but its last, and a terminator.
      const std::size_t units = end > q ? static_cast<std::size_t>(end - q) : 1;
      if (!Fits(data, 2 * units)) return false;
      for (const char16_t* c = q; c + 1 < end; ++c) PushUnit(data, *c);
      PushUnit(data, 0);
      if (*end == 0) break;
      const char16_t* open = end + 1;
      while (*open != 0 && *open != u'"') ++open;
      // Blanks may follow the ","; other text up to the next string, or a
      // "," with no string behind it, ends up nowhere.
      if (report && (*open == 0 || HoldsNonSpace(end + 1, open)))
        report(Decision::kListTextSkipped, end, open);
      if (*open == 0) break;
      q = open + 1;
    }
  }
  if (!Fits(data, 2)) return false;
  PushUnit(data, 0);
  return true;
}

}  // namespace brixparse::forms
