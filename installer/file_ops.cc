#include "installer/file_ops.h"

#include "installer/handles.h"
#include "installer/messages.h"
#include "platform/platform.h"
#include "platform/wstr.h"

namespace brixcopy {
namespace {

// One read of up to n bytes, tried again with the same request while it fails,
// at most kTransferAttempts times in all.
bool ReadChunk(plat::File* file, void* buffer, std::uint32_t n, std::uint32_t* got) {
  for (int attempt = 0; attempt < kTransferAttempts; ++attempt) {
    if (plat::FileRead(file, buffer, n, got)) return true;
  }
  return false;
}

// One write of the chunk, retried like ReadChunk. A successful call counts as
// the whole chunk written: the reported count is deliberately not examined.
bool WriteChunk(plat::File* file, const void* buffer, std::uint32_t n) {
  for (int attempt = 0; attempt < kTransferAttempts; ++attempt) {
    std::uint32_t written = 0;
    if (plat::FileWrite(file, buffer, n, &written)) return true;
  }
  return false;
}

}  // namespace

std::int32_t CopyOneFile(const char16_t* source, const char16_t* destination) {
  FileHandle in(plat::FileOpenRead(source));
  if (!in) {
    plat::DebugPrint(u"BrixCopy: cannot open source file: %s\r\nGetLastError returned: %d\r\n",
                     source, plat::LastError());
    return 0;
  }
  // The destination is created only now, so that a missing source never
  // truncates an existing destination.
  FileHandle out(plat::FileCreateWrite(destination));
  if (!out) {
    plat::DebugPrint(u"BrixCopy: cannot create destination file: %s\r\nGetLastError returned: %d\r\n",
                     destination, plat::LastError());
    in.Reset();
    return 0;
  }

  unsigned char buffer[kTransferChunk];
  std::int32_t result = 1;
  for (;;) {
    std::uint32_t got = 0;
    if (!ReadChunk(in.Get(), buffer, kTransferChunk, &got)) {
      plat::DebugPrint(u"BrixCopy: cannot read source file: %s\r\nGetLastError returned: %d\r\n",
                       source, plat::LastError());
      result = 0;
      break;
    }
    if (got == 0) break;
    // A misbehaving platform must never make us write past what the buffer holds.
    if (got > kTransferChunk) got = kTransferChunk;
    if (!WriteChunk(out.Get(), buffer, got)) {
      plat::DebugPrint(u"BrixCopy: cannot write destination file: %s\r\nGetLastError returned: %d\r\n",
                       destination, plat::LastError());
      result = 0;
      break;
    }
  }
  // Source first, then destination: the order the device expects. The last
  // bytes may only be stored when the destination is closed, so a failing
  // close means an incomplete copy.
  in.Reset();
  if (!plat::FileClose(out.Release()) && result == 1) {
    plat::DebugPrint(u"BrixCopy: cannot write destination file: %s\r\nGetLastError returned: %d\r\n",
                     destination, plat::LastError());
    result = 0;
  }
  return result;
}

void CreatePath(const char16_t* path, LineObserver* observer) {
  const std::size_t length = wstr::Len(path);
  if (length < 2) return;
  if (observer != nullptr) {
    // Only backslashes divide the path into the folders created.
    if (const char16_t* slash = wstr::Chr(path, u'/'); slash != nullptr)
      observer->Decided(Decision::kForwardSlash, slash, 1);
  }

  char16_t name[kPathChars] = {};
  std::size_t scan = 0;
  const char16_t* first = wstr::Chr(path, u'\\');
  if (first == nullptr || first == path) {
    wstr::Copy(name, kPathChars, u"\\");
    scan = 1;
  }

  // One creation per backslash after the first character: the prefix before it.
  for (const char16_t* slash = wstr::Chr(path + scan, u'\\'); slash != nullptr;
       slash = wstr::Chr(slash + 1, u'\\')) {
    const std::size_t index = static_cast<std::size_t>(slash - path);
    // A prefix that does not fit the scratch name is not created rather than cut short.
    if (wstr::CopyN(name, kPathChars, path, index)) plat::MakeDirectory(name);
    wstr::Copy(name, kPathChars, u"\\");
  }

  // The final name is one backslash and the whole path; a path with a dot
  // anywhere is taken to end in a file name and gets no final creation.
  if (!wstr::Cat(name, kPathChars, path)) return;
  if (wstr::Chr(path, u'.') == nullptr && plat::MakeDirectory(name) && observer != nullptr)
    observer->Decided(Decision::kFolderFromPath, path, length);
}

}  // namespace brixcopy
