#include "platform/posix/error.h"

#include <cerrno>

#include "platform/platform.h"

namespace plat {
namespace {

thread_local std::uint32_t tLastError = 0;

}  // namespace

std::uint32_t LastError() { return tLastError; }

void SetLastErrorCode(std::uint32_t code) { tLastError = code; }

namespace posix {

std::uint32_t ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return 0;
    // ENOENT is "file not found"; callers that can tell a missing folder apart refine it to 3.
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case ELOOP:
      return kErrorCantResolveFilename;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
    case EAGAIN:
      return kErrorNotEnoughMemory;
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    case EEXIST:
      return kErrorFileExists;
    case ENOEXEC:
      return kErrorBadExeFormat;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    case ENAMETOOLONG:
      return kErrorFilenameTooLong;
    default:
      return kErrorGenFailure;
  }
}

void SetErrorFromErrno(int err) { SetLastErrorCode(ErrorFromErrno(err)); }

}  // namespace posix
}  // namespace plat
