// Streams over the backend's raw files, the same for every backend. Reads go
// through the text decoder's read-ahead buffer (text lines and binary items
// alike); writes go straight to the file, so closing has nothing left to flush.
#include <array>
#include <memory>
#include <new>
#include <string>

#include "platform/backend.h"
#include "platform/call_observer.h"
#include "platform/platform.h"
#include "platform/text_decoder.h"

namespace plat {

namespace {
constexpr std::uint32_t kErrorInvalidParameter = 87;
}  // namespace

struct Stream {
  Stream(File* f, const char16_t* p) : file(f), path(p) {}
  ~Stream() {
    if (file != nullptr) FileClose(file);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  File* file;
  std::u16string path;
  bool eof = false;
  bool error = false;
  std::uint64_t filePos = 0;  // position of the underlying file, read-ahead included
  text::LineDecoder decoder;
};

namespace {

class FileSource : public text::ByteSource {
 public:
  explicit FileSource(Stream& stream) : stream_(stream) {}
  std::int64_t Read(std::uint8_t* dst, std::size_t capacity) override {
    std::uint32_t got = 0;
    if (!FileRead(stream_.file, dst, static_cast<std::uint32_t>(capacity), &got)) return -1;
    stream_.filePos += got;
    return got;
  }

 private:
  Stream& stream_;
};

// The file has been read ahead of the caller's position: put it back where the caller
// stands before writing. The backend can only seek to the start, so skip forward by reading.
bool SyncForWrite(Stream& s) {
  const std::uint64_t target = s.filePos - s.decoder.Buffered();
  const bool aligned = s.decoder.Buffered() == 0;
  s.decoder.Reset();
  if (aligned) return true;
  if (!backend::SeekToStart(s.file)) return false;
  s.filePos = 0;
  std::array<std::uint8_t, text::LineDecoder::kChunk> scratch;
  while (s.filePos < target) {
    std::uint64_t want = target - s.filePos;
    if (want > scratch.size()) want = scratch.size();
    std::uint32_t got = 0;
    if (!FileRead(s.file, scratch.data(), static_cast<std::uint32_t>(want), &got) || got == 0) {
      return false;
    }
    s.filePos += got;
  }
  return true;
}

bool ParseMode(const char16_t* mode, backend::Access* access, backend::Disposition* disposition) {
  const std::u16string m = mode;
  if (m == u"rt") {
    *access = backend::Access::Read;
    *disposition = backend::Disposition::OpenExisting;
  } else if (m == u"r+b") {
    *access = backend::Access::ReadWrite;
    *disposition = backend::Disposition::OpenExisting;
  } else if (m == u"w+b") {
    *access = backend::Access::ReadWrite;
    *disposition = backend::Disposition::CreateAlways;
  } else {
    return false;
  }
  return true;
}

const char16_t* PathOf(const Stream* stream) { return stream != nullptr ? stream->path.c_str() : u""; }

}  // namespace

Stream* StreamOpen(const char16_t* path, const char16_t* mode) try {
  detail::ObservedCall call("StreamOpen", path);
  if (call.injected() != 0) {
    SetLastErrorCode(call.injected());
    call.Finish(false, 0, mode);
    return nullptr;
  }
  backend::Access access{};
  backend::Disposition disposition{};
  if (path == nullptr || mode == nullptr || !ParseMode(mode, &access, &disposition)) {
    SetLastErrorCode(kErrorInvalidParameter);
    call.Finish(false, 0, mode);
    return nullptr;
  }
  File* file = backend::OpenFile(path, access, disposition, backend::Share::ReadWrite);
  if (file == nullptr) {
    call.Finish(false, 0, mode);
    return nullptr;
  }
  auto stream = std::make_unique<Stream>(file, path);
  call.Finish(true, 0, mode);
  return stream.release();
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(static_cast<Stream*>(nullptr));
}

char16_t* StreamReadLine(char16_t* buffer, int n, Stream* stream, std::size_t* count) try {
  detail::ObservedCall call("StreamReadLine", PathOf(stream));
  if (count != nullptr) *count = 0;
  if (stream == nullptr || buffer == nullptr) {
    SetLastErrorCode(kErrorInvalidHandle);
    return nullptr;
  }
  if (call.injected() != 0) {
    SetLastErrorCode(call.injected());
    stream->error = true;
    return nullptr;
  }
  FileSource source(*stream);
  const text::LineResult result = stream->decoder.ReadLine(source, buffer, n);
  if (result.failed) stream->error = true;
  if (result.hitEnd) stream->eof = true;
  if (result.count == 0) {
    call.Finish(false);
    return nullptr;
  }
  // The count is what tells a zero unit inside the text from the terminator.
  if (count != nullptr) *count = result.count;
  call.Finish(true, static_cast<std::int64_t>(result.count), buffer);
  return buffer;
} catch (const std::bad_alloc&) {
  // A line longer than memory allows is a read error of the stream.
  if (stream != nullptr) stream->error = true;
  return backend::OutOfMemory(static_cast<char16_t*>(nullptr));
}

std::size_t StreamReadInt32(std::int32_t* value, Stream* stream) {
  detail::ObservedCall call("StreamReadInt32", PathOf(stream));
  if (stream == nullptr || value == nullptr) {
    SetLastErrorCode(kErrorInvalidHandle);
    return 0;
  }
  if (call.injected() != 0) {
    SetLastErrorCode(call.injected());
    stream->error = true;
    return 0;
  }
  std::uint8_t bytes[4] = {};
  FileSource source(*stream);
  const std::int64_t got = stream->decoder.ReadRaw(source, bytes, sizeof bytes);
  if (got < 0) {
    stream->error = true;
    return 0;
  }
  if (got < 4) {
    stream->eof = true;
    return 0;
  }
  const std::uint32_t raw = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                            (static_cast<std::uint32_t>(bytes[2]) << 16) |
                            (static_cast<std::uint32_t>(bytes[3]) << 24);
  *value = static_cast<std::int32_t>(raw);
  call.Finish(true, *value);
  return 1;
}

std::size_t StreamWriteInt32(std::int32_t value, Stream* stream) {
  detail::ObservedCall call("StreamWriteInt32", PathOf(stream));
  if (stream == nullptr) {
    SetLastErrorCode(kErrorInvalidHandle);
    return 0;
  }
  if (call.injected() != 0) {
    SetLastErrorCode(call.injected());
    stream->error = true;
    call.Finish(false, value);
    return 0;
  }
  const auto raw = static_cast<std::uint32_t>(value);
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(raw), static_cast<std::uint8_t>(raw >> 8),
                                 static_cast<std::uint8_t>(raw >> 16), static_cast<std::uint8_t>(raw >> 24)};
  std::uint32_t written = 0;
  if (!SyncForWrite(*stream) || !FileWrite(stream->file, bytes, sizeof bytes, &written)) {
    stream->error = true;
    call.Finish(false, value);
    return 0;
  }
  stream->filePos += sizeof bytes;
  call.Finish(true, value);
  return 1;
}

void StreamRewind(Stream* stream) {
  detail::ObservedCall call("StreamRewind", PathOf(stream));
  if (stream == nullptr) {
    SetLastErrorCode(kErrorInvalidHandle);
    return;
  }
  if (call.injected() != 0) {
    SetLastErrorCode(call.injected());
    stream->error = true;
    return;
  }
  stream->decoder.Reset();
  stream->eof = false;
  stream->error = false;
  if (!backend::SeekToStart(stream->file)) {
    stream->error = true;
    return;
  }
  stream->filePos = 0;
  call.Finish(true);
}

bool StreamAtEof(Stream* stream) {
  detail::ObservedCall call("StreamAtEof", PathOf(stream));
  const bool result = stream != nullptr && stream->eof;
  call.Finish(true, result ? 1 : 0);
  return result;
}

bool StreamHasError(Stream* stream) {
  detail::ObservedCall call("StreamHasError", PathOf(stream));
  const bool result = stream != nullptr && stream->error;
  call.Finish(true, result ? 1 : 0);
  return result;
}

int StreamClose(Stream* stream) {
  // The path is copied out because the record is made after the stream is gone.
  const std::u16string path = PathOf(stream);
  detail::ObservedCall call("StreamClose", path.c_str());
  if (stream == nullptr) {
    SetLastErrorCode(kErrorInvalidHandle);
    return -1;
  }
  std::unique_ptr<Stream> owned(stream);
  File* file = owned->file;
  owned->file = nullptr;
  const bool closed = FileClose(file);
  if (call.injected() != 0) {
    SetLastErrorCode(call.injected());
    return -1;
  }
  call.Finish(closed);
  return closed ? 0 : -1;
}

}  // namespace plat
