// Progress dialog and cursor on Win32: dialog templates from the program's
// resources, modeless dialogs driven without a message loop.
#include <memory>

#include "platform/win32/host.h"

namespace plat {

using win32::ToHandle;
using win32::ToOpaque;
using win32::Wide;

namespace {

HWND ToHwnd(Window* window) { return static_cast<HWND>(ToHandle(window)); }
HINSTANCE ToInstance(Module* module) { return static_cast<HINSTANCE>(ToHandle(module)); }

// What a dialog's real procedure needs to call the program's procedure.
struct DialogBinding {
  DialogProc proc;
  std::intptr_t parameter;
};

// The binding of the dialog being created on this thread: messages such as
// WM_SETFONT arrive before WM_INITDIALOG has handed the binding over.
thread_local DialogBinding* pendingBinding = nullptr;

// The binding lives in the dialog's user slot. The desktop's 64-bit windows
// need the pointer-sized accessors (GetWindowLongPtrW, DWLP_USER); the device
// has the 32-bit GetWindowLongW and SetWindowLongW with DWL_USER.
INT_PTR CALLBACK DialogTrampoline(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* adopted = reinterpret_cast<DialogBinding*>(GetWindowLongPtrW(dialog, DWLP_USER));
  DialogBinding* binding = adopted;
  if (binding == nullptr) {
    binding = pendingBinding;
    if (binding == nullptr) return FALSE;
    if (message == WM_INITDIALOG) {
      // From here on the window owns the binding and frees it on WM_NCDESTROY.
      SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(binding));
      pendingBinding = nullptr;
      adopted = binding;
      lParam = binding->parameter;  // the program's own parameter, not the binding
    }
  }
  const INT_PTR answer = binding->proc(ToOpaque<Window>(dialog), message, wParam, lParam);
  if (message == WM_NCDESTROY && adopted != nullptr) {
    SetWindowLongPtrW(dialog, DWLP_USER, 0);
    delete adopted;
  }
  return answer;
}

}  // namespace

const DialogTemplate* DialogTemplateLoad(Module* module, int id) {
  const HINSTANCE instance = ToInstance(module);
  const HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_DIALOG);
  if (found == nullptr) return nullptr;
  const HGLOBAL loaded = LoadResource(instance, found);
  if (loaded == nullptr) return nullptr;
  return static_cast<const DialogTemplate*>(LockResource(loaded));
}

Window* DialogCreate(Module* module, const DialogTemplate* dialogTemplate, DialogProc proc,
                     std::intptr_t parameter) {
  auto binding = std::make_unique<DialogBinding>(DialogBinding{proc, parameter});
  pendingBinding = binding.get();
  const HWND dialog = CreateDialogIndirectParamW(
      ToInstance(module), reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate), nullptr,
      DialogTrampoline, 0);
  // The binding left pending was never adopted by a window: it is still ours.
  if (pendingBinding == nullptr) binding.release();
  pendingBinding = nullptr;
  if (dialog == nullptr) return nullptr;
  return ToOpaque<Window>(dialog);
}

Window* DialogItem(Window* dialog, int id) { return ToOpaque<Window>(GetDlgItem(ToHwnd(dialog), id)); }

bool WindowSetText(Window* window, const char16_t* text) {
  return SetWindowTextW(ToHwnd(window), Wide(text)) != FALSE;
}

bool WindowRepaint(Window* window) { return UpdateWindow(ToHwnd(window)) != FALSE; }

bool WindowDestroy(Window* window) { return DestroyWindow(ToHwnd(window)) != FALSE; }

void CursorSet(Module* module, std::uintptr_t cursorId) {
  SetCursor(LoadCursorW(ToInstance(module), MAKEINTRESOURCEW(cursorId)));
}

}  // namespace plat
