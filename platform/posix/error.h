// Last-error codes of the device simulator: the device's numbers, kept per thread.
#pragma once

#include <cstdint>

namespace plat::posix {

// Device error numbers the simulator reports beyond those named in platform.h.
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorFilenameTooLong = 206;
inline constexpr std::uint32_t kErrorControlIdNotFound = 1421;
inline constexpr std::uint32_t kErrorResourceNotFound = 1814;
// A symbolic link met on a device path: a device has none, and the simulator never follows one.
inline constexpr std::uint32_t kErrorCantResolveFilename = 1921;

// The device error number closest to a host errno value.
std::uint32_t ErrorFromErrno(int err);
// Sets the calling thread's last error from a host errno value.
void SetErrorFromErrno(int err);

}  // namespace plat::posix
