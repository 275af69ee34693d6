// Text-mode decoding shared by every backend: turns the bytes of a file into
// lines of UTF-16 text for the stream layer's line reader.
//
// Encoding: a byte order mark selects UTF-16LE (FF FE), UTF-16BE (FE FF) or
// UTF-8 (EF BB BF); the mark is not text. Without a mark the bytes are UTF-8,
// and every byte that does not belong to a valid UTF-8 sequence is taken as
// its Windows-1252 character. CR LF arrives as LF; a lone CR stays.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace plat::text {

// Where the decoder gets its bytes from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to capacity bytes into dst: the count read, 0 at end of input, -1 on failure.
  virtual std::int64_t Read(std::uint8_t* dst, std::size_t capacity) = 0;
};

// The Windows-1252 character of a single byte (undefined bytes map to U+0080..U+009F alike).
char32_t Windows1252(std::uint8_t byte);

// Outcome of one step of decoding.
enum class ReadStatus { Ok, End, Error };

// What one line read produced.
struct LineResult {
  std::size_t count = 0;  // code units stored; 0 when nothing was read (buffer untouched)
  bool hitEnd = false;    // end of input was met during the call
  bool failed = false;    // the source reported a failure during the call
};

// Decodes a byte source into code points and lines; keeps read-ahead bytes between calls.
class LineDecoder {
 public:
  static constexpr std::size_t kChunk = 4096;

  // Reads at most n-1 code units of one line into buffer plus a terminator, stopping after
  // a line feed (kept); leaves the buffer untouched when nothing was read.
  LineResult ReadLine(ByteSource& source, char16_t* buffer, int n);

  // Takes up to n raw bytes (read-ahead first, then the source); returns the count or -1 on failure.
  std::int64_t ReadRaw(ByteSource& source, std::uint8_t* dst, std::size_t n);

  // Bytes read from the source but not yet consumed.
  std::size_t Buffered() const { return end_ - pos_; }

  // Forgets read-ahead bytes and pending text, and detects the byte order mark again.
  void Reset();

 private:
  enum class Encoding { Unknown, Utf8, Utf16Le, Utf16Be };

  // Makes at least want bytes available unless the input ends first; false on failure.
  bool Fill(ByteSource& source, std::size_t want);
  ReadStatus DetectMark(ByteSource& source);
  // The next code point, before CR LF folding.
  ReadStatus NextCodePoint(ByteSource& source, char32_t* cp);
  ReadStatus NextUtf8(ByteSource& source, char32_t* cp);
  ReadStatus NextUtf16(ByteSource& source, char32_t* cp);
  // The next code point, honouring one pushed back.
  ReadStatus Take(ByteSource& source, char32_t* cp);
  // Moves the read-ahead's leading units that decode to themselves (no CR, no multi-unit
  // sequence) into buffer from out, up to limit; true when a line feed ended the line.
  bool CopyPlainRun(char16_t* buffer, std::size_t& out, std::size_t limit);

  std::array<std::uint8_t, kChunk + 8> bytes_{};
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool sourceEnded_ = false;
  Encoding encoding_ = Encoding::Unknown;
  std::optional<char32_t> pushedBack_;
  char16_t pendingLow_ = 0;  // second half of a pair split only when a call holds one unit
};

}  // namespace plat::text
