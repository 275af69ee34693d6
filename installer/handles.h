// Move-only owners of platform handles: each closes its handle when it goes
// out of scope, unless the handle was closed earlier with Reset().
#pragma once

#include "platform/platform.h"

namespace brixcopy {

// Owns one handle of type T and closes it with Close (whose result is not used).
template <typename T, auto Close>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T* handle) : handle_(handle) {}
  ~Owned() { Reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : handle_(other.Release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.Release();
    }
    return *this;
  }

  // The handle, still owned.
  T* Get() const { return handle_; }
  // True while a handle is held.
  explicit operator bool() const { return handle_ != nullptr; }
  // Closes the held handle now (if any) and holds handle instead.
  void Reset(T* handle = nullptr) {
    if (handle_ != nullptr) static_cast<void>(Close(handle_));
    handle_ = handle;
  }
  // Gives up ownership without closing.
  T* Release() {
    T* handle = handle_;
    handle_ = nullptr;
    return handle;
  }

 private:
  T* handle_ = nullptr;
};

using FileHandle = Owned<plat::File, &plat::FileClose>;
using FindHandle = Owned<plat::Find, &plat::FindEnd>;
using StreamHandle = Owned<plat::Stream, &plat::StreamClose>;
using LibraryHandle = Owned<plat::Module, &plat::LibraryFree>;
using ObjectHandle = Owned<plat::Object, &plat::ObjectClose>;
using WindowHandle = Owned<plat::Window, &plat::WindowDestroy>;

}  // namespace brixcopy
