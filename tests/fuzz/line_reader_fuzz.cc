// Fuzz target: the text decoder's line reader, read with varying buffer
// capacities from a source that hands out bytes in varying portions and may
// fail. The text read must be exactly the whole input decoded in one go
// (nothing lost, duplicated or reordered, CR LF as LF), each read must stop
// only where a line read may stop, and a surrogate pair is split only by a
// buffer with room for a single unit.
//
// Input: byte 0 gives the number of capacities (1 + low 3 bits), then one byte
// per capacity (cycled through), then a byte for the source's portion size and
// one for its failure point; the rest is the file.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/text_decoder.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/reference_text.h"

namespace {

using plat::text::LineDecoder;
using plat::text::LineResult;

constexpr char16_t kCanary = 0xA5A5;
constexpr std::size_t kGuard = 8;

// Hands out the file in portions of at most `portion` bytes (0: as asked) and
// fails every read from read number failAt on (0: never).
class PortionSource : public plat::text::ByteSource {
 public:
  PortionSource(const std::uint8_t* bytes, std::size_t size, std::size_t portion, int failAt)
      : bytes_(bytes), size_(size), portion_(portion), failAt_(failAt) {}
  std::int64_t Read(std::uint8_t* dst, std::size_t capacity) override {
    ++reads_;
    if (failAt_ != 0 && reads_ >= failAt_) return -1;
    std::size_t n = size_ - pos_;
    if (n > capacity) n = capacity;
    if (portion_ != 0 && n > portion_) n = portion_;
    for (std::size_t i = 0; i < n; ++i) dst[i] = bytes_[pos_ + i];
    pos_ += n;
    return static_cast<std::int64_t>(n);
  }

 private:
  const std::uint8_t* bytes_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::size_t portion_;
  int failAt_;
  int reads_ = 0;
};

int Capacity(std::uint8_t b) {
  switch (b) {
    case 0: return 1;    // no room for any text: nothing may be read
    case 1: return 0;
    case 253: return 1023;
    case 254: return 1024;
    case 255: return 4096;
    default: return 2 + b % 64;
  }
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

std::string Where(const std::u16string& read, std::size_t at, int capacity) {
  return "capacity " + std::to_string(capacity) + " at unit " + std::to_string(at) + ": read \"" +
         fuzz::Show(read) + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t capacityCount = 1 + (data[0] & 7);
  if (size < 1 + capacityCount + 2) return 0;
  std::vector<int> capacities;
  for (std::size_t i = 0; i < capacityCount; ++i) capacities.push_back(Capacity(data[1 + i]));
  const std::uint8_t portionByte = data[1 + capacityCount];
  const std::uint8_t failByte = data[2 + capacityCount];
  const std::uint8_t* file = data + 3 + capacityCount;
  const std::size_t fileSize = size - 3 - capacityCount;

  const std::u16string expected = fuzz::ReferenceDecode(file, fileSize);
  // Portions of 1 to 7 bytes, or larger ones, or as much as asked (0).
  const std::size_t portion = (portionByte & 0x80) != 0 ? (portionByte & 0x7F) * 37u + 1 : portionByte & 7u;
  PortionSource source(file, fileSize, portion, failByte < 24 ? 1 + failByte : 0);
  LineDecoder decoder;
  std::u16string text;  // everything read so far
  bool usable = false;
  for (int capacity : capacities) usable = usable || capacity >= 2;

  // Every read with room gives at least one unit until the end, so this bound
  // is only met by a reader that stalls.
  const std::size_t maxReads = (expected.size() + 2) * capacityCount + 8;
  bool ended = false;
  std::vector<char16_t> buffer;
  for (std::size_t call = 0; call < maxReads && !ended; ++call) {
    const int capacity = capacities[call % capacityCount];
    buffer.assign(static_cast<std::size_t>(capacity) + kGuard, kCanary);
    const LineResult r = decoder.ReadLine(source, buffer.data(), capacity);
    const std::u16string read(buffer.data(), r.count);
    const auto where = [&] { return Where(read, text.size(), capacity); };

    if (capacity <= 1) {
      FUZZ_CHECK(r.count == 0 && !r.hitEnd && !r.failed, where());
      for (char16_t unit : buffer) FUZZ_CHECK(unit == kCanary, "buffer touched; " + where());
      if (!usable) return 0;
      continue;
    }
    FUZZ_CHECK(r.count <= static_cast<std::size_t>(capacity) - 1, where());
    // The terminator follows the text; nothing beyond it is touched, and a
    // read of nothing leaves the buffer as it was.
    const std::size_t touched = r.count == 0 ? 0 : r.count + 1;
    if (r.count > 0) FUZZ_CHECK(buffer[r.count] == 0, "no terminator; " + where());
    for (std::size_t i = touched; i < buffer.size(); ++i)
      FUZZ_CHECK(buffer[i] == kCanary, "unit " + std::to_string(i) + " touched; " + where());

    FUZZ_CHECK(expected.compare(text.size(), read.size(), read) == 0,
               where() + "; expected \"" + fuzz::Show(expected.substr(text.size(), read.size())) + "\"");
    const std::size_t feed = read.find(u'\n');
    FUZZ_CHECK(feed == std::u16string::npos || feed + 1 == read.size(),
               "text behind a line feed; " + where());
    text += read;

    if (r.failed) {
      // What came before the failure is right (checked above); nothing more is asked.
      return 0;
    }
    if (r.count == 0) {
      FUZZ_CHECK(r.hitEnd, "nothing read before the end; " + where());
      ended = true;
      continue;
    }
    const bool full = r.count == static_cast<std::size_t>(capacity) - 1;
    const bool lineEnd = read.back() == u'\n';
    const bool pairNext = text.size() + 1 < expected.size() && IsHigh(expected[text.size()]) &&
                          IsLow(expected[text.size() + 1]);
    if (!full && !lineEnd && !r.hitEnd) {
      // The only other place to stop is before a pair that no longer fits.
      FUZZ_CHECK(pairNext && r.count == static_cast<std::size_t>(capacity) - 2,
                 "read stopped early; " + where());
    }
    if (IsHigh(read.back()) && text.size() < expected.size() && IsLow(expected[text.size()])) {
      FUZZ_CHECK(capacity == 2, "surrogate pair split; " + where());
    }
    if (r.hitEnd) {
      FUZZ_CHECK(text == expected,
                 "end met with text missing: \"" + fuzz::Show(expected.substr(text.size())) + "\"");
    }
  }
  if (!ended && usable) {
    FUZZ_CHECK(text == expected, "reads stalled at unit " + std::to_string(text.size()));
    FUZZ_CHECK(false, "no end after " + std::to_string(maxReads) + " reads");
  }
  if (ended)
    FUZZ_CHECK(text == expected, "missing at the end: \"" + fuzz::Show(expected.substr(text.size())) + "\"");
  return 0;
}
