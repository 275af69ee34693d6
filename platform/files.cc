#include "platform/backend.h"
#include "platform/call_observer.h"
#include "platform/platform.h"

namespace plat {

namespace {

File* ObservedOpen(const char* op, const char16_t* path, backend::Access access,
                   backend::Disposition disposition) {
  detail::ObservedCall call(op, path);
  if (call.injected() != 0) {
    SetLastErrorCode(call.injected());
    return nullptr;
  }
  File* file = backend::OpenFile(path, access, disposition, backend::Share::None);
  call.Finish(file != nullptr);
  return file;
}

}  // namespace

File* FileOpenRead(const char16_t* path) {
  return ObservedOpen("FileOpenRead", path, backend::Access::Read, backend::Disposition::OpenExisting);
}

File* FileCreateWrite(const char16_t* path) {
  return ObservedOpen("FileCreateWrite", path, backend::Access::Write,
                      backend::Disposition::CreateAlways);
}

}  // namespace plat
