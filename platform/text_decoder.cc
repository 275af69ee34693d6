#include "platform/text_decoder.h"

#include <bit>
#include <cstring>

#include "platform/utf.h"

namespace plat::text {

namespace {

// 0x80..0x9F of Windows-1252; the five bytes it leaves undefined keep their own value so
// that no byte is ever lost.
constexpr char16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Length of the UTF-8 sequence a lead byte announces; 0 for a byte that cannot lead one
// (continuation bytes, C0 and C1 which only start overlongs, F5..FF beyond U+10FFFF).
std::size_t Utf8Length(std::uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Allowed range of the byte after a lead: narrower for the leads where the full range
// would give overlongs (E0, F0), surrogates (ED) or code points above U+10FFFF (F4).
bool SecondByteOk(std::uint8_t lead, std::uint8_t b) {
  switch (lead) {
    case 0xE0: return b >= 0xA0 && b <= 0xBF;
    case 0xED: return b >= 0x80 && b <= 0x9F;
    case 0xF0: return b >= 0x90 && b <= 0xBF;
    case 0xF4: return b >= 0x80 && b <= 0x8F;
    default: return b >= 0x80 && b <= 0xBF;
  }
}

constexpr std::uint64_t kLowBits = 0x0101010101010101u;
constexpr std::uint64_t kHighBits = 0x8080808080808080u;

// True when one of the eight bytes of word equals byte.
bool HasByte(std::uint64_t word, std::uint8_t byte) {
  const std::uint64_t x = word ^ (kLowBits * byte);
  return ((x - kLowBits) & ~x & kHighBits) != 0;
}

// Stores the eight bytes at bytes (loaded as word) as eight code units at out.
void WidenEight(std::uint64_t word, const std::uint8_t* bytes, char16_t* out) {
  if constexpr (std::endian::native == std::endian::little) {
    // Each half of the word spread to four 16-bit lanes: two stores instead of eight.
    const auto spread = [](std::uint64_t x) {
      x = (x | (x << 16)) & 0x0000FFFF0000FFFFu;
      return (x | (x << 8)) & 0x00FF00FF00FF00FFu;
    };
    const std::uint64_t low = spread(word & 0xFFFFFFFFu);
    const std::uint64_t high = spread(word >> 32);
    std::memcpy(out, &low, sizeof low);
    std::memcpy(out + 4, &high, sizeof high);
  } else {
    for (int k = 0; k < 8; ++k) out[k] = bytes[k];
  }
}

}  // namespace

char32_t Windows1252(std::uint8_t byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHigh1252[byte - 0x80];
  return byte;
}

bool LineDecoder::Fill(ByteSource& source, std::size_t want) {
  while (Buffered() < want && !sourceEnded_) {
    if (pos_ > 0) {
      std::memmove(bytes_.data(), bytes_.data() + pos_, Buffered());
      end_ -= pos_;
      pos_ = 0;
    }
    std::size_t room = bytes_.size() - end_;
    if (room > kChunk) room = kChunk;
    const std::int64_t got = source.Read(bytes_.data() + end_, room);
    if (got < 0) return false;
    if (got == 0) {
      sourceEnded_ = true;
    } else {
      end_ += static_cast<std::size_t>(got);
    }
  }
  return true;
}

ReadStatus LineDecoder::DetectMark(ByteSource& source) {
  if (!Fill(source, 3)) return ReadStatus::Error;
  const std::uint8_t* b = bytes_.data() + pos_;
  const std::size_t avail = Buffered();
  if (avail >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    encoding_ = Encoding::Utf16Le;
    pos_ += 2;
  } else if (avail >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
    encoding_ = Encoding::Utf16Be;
    pos_ += 2;
  } else if (avail >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
    encoding_ = Encoding::Utf8;
    pos_ += 3;
  } else {
    encoding_ = Encoding::Utf8;
  }
  return ReadStatus::Ok;
}

ReadStatus LineDecoder::NextUtf8(ByteSource& source, char32_t* cp) {
  if (!Fill(source, 1)) return ReadStatus::Error;
  if (Buffered() == 0) return ReadStatus::End;
  const std::uint8_t lead = bytes_[pos_];
  const std::size_t need = Utf8Length(lead);
  if (need == 1) {
    ++pos_;
    *cp = lead;
    return ReadStatus::Ok;
  }
  if (need > 1) {
    if (!Fill(source, need)) return ReadStatus::Error;
    const std::size_t avail = Buffered();
    bool valid = avail >= need && SecondByteOk(lead, bytes_[pos_ + 1]);
    for (std::size_t i = 2; valid && i < need; ++i) {
      valid = (bytes_[pos_ + i] & 0xC0) == 0x80;
    }
    if (valid) {
      char32_t value = lead & (0x7F >> need);
      for (std::size_t i = 1; i < need; ++i) value = (value << 6) | (bytes_[pos_ + i] & 0x3F);
      pos_ += need;
      *cp = value;
      return ReadStatus::Ok;
    }
  }
  // Not UTF-8 here: the lead byte alone is a Windows-1252 character and decoding resumes
  // at the next byte, so a stray byte never swallows the text after it.
  ++pos_;
  *cp = Windows1252(lead);
  return ReadStatus::Ok;
}

ReadStatus LineDecoder::NextUtf16(ByteSource& source, char32_t* cp) {
  const bool little = encoding_ == Encoding::Utf16Le;
  auto unitAt = [&](std::size_t at) -> char32_t {
    const std::uint8_t a = bytes_[pos_ + at];
    const std::uint8_t b = bytes_[pos_ + at + 1];
    return little ? static_cast<char32_t>(a | (b << 8)) : static_cast<char32_t>((a << 8) | b);
  };
  if (!Fill(source, 2)) return ReadStatus::Error;
  if (Buffered() == 0) return ReadStatus::End;
  if (Buffered() == 1) {
    // An odd final byte cannot be half of a character that exists: it is reported as
    // a replacement character rather than silently dropped.
    ++pos_;
    *cp = utf::kReplacement;
    return ReadStatus::Ok;
  }
  const char32_t first = unitAt(0);
  if (utf::IsHighSurrogate(first)) {
    if (!Fill(source, 4)) return ReadStatus::Error;
    if (Buffered() >= 4) {
      const char32_t second = unitAt(2);
      if (utf::IsLowSurrogate(second)) {
        pos_ += 4;
        *cp = utf::FromPair(first, second);
        return ReadStatus::Ok;
      }
    }
  }
  // Lone surrogates pass through unchanged, as wide text on the device keeps them.
  pos_ += 2;
  *cp = first;
  return ReadStatus::Ok;
}

ReadStatus LineDecoder::NextCodePoint(ByteSource& source, char32_t* cp) {
  if (encoding_ == Encoding::Unknown) {
    const ReadStatus status = DetectMark(source);
    if (status != ReadStatus::Ok) return status;
  }
  if (encoding_ == Encoding::Utf8) return NextUtf8(source, cp);
  return NextUtf16(source, cp);
}

ReadStatus LineDecoder::Take(ByteSource& source, char32_t* cp) {
  if (pushedBack_) {
    *cp = *pushedBack_;
    pushedBack_.reset();
    return ReadStatus::Ok;
  }
  return NextCodePoint(source, cp);
}

bool LineDecoder::CopyPlainRun(char16_t* buffer, std::size_t& out, std::size_t limit) {
  const std::uint8_t* b = bytes_.data() + pos_;
  const std::size_t avail = Buffered();
  std::size_t i = 0;  // bytes taken
  std::size_t o = out;
  bool lineFeed = false;
  if (encoding_ == Encoding::Utf8) {
    std::size_t n = limit - o;
    if (n > avail) n = avail;
    // Eight bytes at a time while none of them is a line end or begins a
    // multi-byte sequence; the byte loop below takes the rest.
    for (; i + 8 <= n; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, b + i, sizeof word);
      if ((word & kHighBits) != 0 || HasByte(word, '\r') || HasByte(word, '\n')) break;
      WidenEight(word, b + i, buffer + o);
      o += 8;
    }
    for (; i < n; ++i) {
      const std::uint8_t c = b[i];
      if (c >= 0x80 || c == '\r') break;
      buffer[o++] = c;
      if (c == '\n') {
        ++i;
        lineFeed = true;
        break;
      }
    }
  } else {
    const bool little = encoding_ == Encoding::Utf16Le;
    for (; i + 1 < avail && o < limit; i += 2) {
      const char16_t u = little ? static_cast<char16_t>(b[i] | (b[i + 1] << 8))
                                : static_cast<char16_t>((b[i] << 8) | b[i + 1]);
      if (u == u'\r' || utf::IsHighSurrogate(u)) break;
      buffer[o++] = u;
      if (u == u'\n') {
        i += 2;
        lineFeed = true;
        break;
      }
    }
  }
  pos_ += i;
  out = o;
  return lineFeed;
}

LineResult LineDecoder::ReadLine(ByteSource& source, char16_t* buffer, int n) {
  LineResult result;
  if (n <= 1) return result;
  const std::size_t limit = static_cast<std::size_t>(n) - 1;
  std::size_t out = 0;
  while (out < limit) {
    // Most text is one unit per character: it is moved in runs, and only what
    // needs decoding, a CR, an empty read-ahead or held-back state takes the
    // step by step path below.
    if (pendingLow_ == 0 && !pushedBack_ && encoding_ != Encoding::Unknown) {
      if (CopyPlainRun(buffer, out, limit)) break;
      if (out == limit) break;
    }
    if (pendingLow_ != 0) {
      buffer[out++] = pendingLow_;
      pendingLow_ = 0;
      continue;
    }
    char32_t cp = 0;
    const ReadStatus status = Take(source, &cp);
    if (status == ReadStatus::Error) {
      result.failed = true;
      break;
    }
    if (status == ReadStatus::End) {
      result.hitEnd = true;
      break;
    }
    if (cp == u'\r') {
      // CR LF becomes LF wherever the pair falls: the look-ahead may read a new chunk.
      char32_t next = 0;
      const ReadStatus after = Take(source, &next);
      if (after == ReadStatus::Error) {
        pushedBack_ = cp;
        result.failed = true;
        break;
      }
      if (after == ReadStatus::End) {
        buffer[out++] = u'\r';
        result.hitEnd = true;
        break;
      }
      if (next == u'\n') {
        buffer[out++] = u'\n';
        break;
      }
      buffer[out++] = u'\r';
      pushedBack_ = next;
      continue;
    }
    if (cp > 0xFFFF) {
      const char16_t high = utf::HighOf(cp);
      const char16_t low = utf::LowOf(cp);
      if (limit - out < 2) {
        if (out == 0) {
          // A buffer of one unit can never hold the pair: split it rather than stall.
          buffer[out++] = high;
          pendingLow_ = low;
        } else {
          pushedBack_ = cp;
        }
        break;
      }
      buffer[out++] = high;
      buffer[out++] = low;
      continue;
    }
    buffer[out++] = static_cast<char16_t>(cp);
    if (cp == u'\n') break;
  }
  if (out > 0) buffer[out] = 0;
  result.count = out;
  return result;
}

std::int64_t LineDecoder::ReadRaw(ByteSource& source, std::uint8_t* dst, std::size_t n) {
  std::size_t copied = 0;
  while (copied < n) {
    if (Buffered() == 0) {
      if (!Fill(source, 1)) return -1;
      if (Buffered() == 0) break;
    }
    std::size_t take = Buffered();
    if (take > n - copied) take = n - copied;
    std::memcpy(dst + copied, bytes_.data() + pos_, take);
    pos_ += take;
    copied += take;
  }
  return static_cast<std::int64_t>(copied);
}

void LineDecoder::Reset() {
  pos_ = 0;
  end_ = 0;
  sourceEnded_ = false;
  encoding_ = Encoding::Unknown;
  pushedBack_.reset();
  pendingLow_ = 0;
}

}  // namespace plat::text
