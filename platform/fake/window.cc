// The fake's windowing: the progress dialog template, dialogs, controls, cursor.
#include "platform/fake/state.h"

namespace plat::fake::internal {

namespace {

constexpr int kProgressDialog = 101;
constexpr int kProgressControl = 1000;
constexpr int kStaticControl = -1;
constexpr std::uint32_t kErrorInvalidWindowHandle = 1400;
constexpr std::uint32_t kErrorControlIdNotFound = 1421;
constexpr std::uint32_t kErrorResourceDataNotFound = 1812;
constexpr std::uint32_t kMessageInitDialog = 0x0110;

Window* FindWindow(Data& d, const Window* window) {
  auto it = d.windows.find(window);
  return it == d.windows.end() ? nullptr : it->second.get();
}

Window* AddWindow(Data& d, Window* parent, int id, std::u16string text) {
  auto window = std::make_unique<Window>();
  window->parent = parent;
  window->id = id;
  window->text = std::move(text);
  Window* raw = window.get();
  d.windows[raw] = std::move(window);
  return raw;
}

}  // namespace

}  // namespace plat::fake::internal

namespace plat {

using namespace fake::internal;

const DialogTemplate* DialogTemplateLoad(Module* /*module*/, int id) {
  FakeCall c("DialogTemplateLoad");
  c.call().number = id;
  if (const std::uint32_t e = c.Start(u"")) return c.Fail(e), nullptr;
  if (id != kProgressDialog) return c.Fail(kErrorResourceDataNotFound), nullptr;
  Data& d = c.data();
  if (!d.dialogTemplate) {
    d.dialogTemplate = std::make_unique<DialogTemplate>();
    d.dialogTemplate->id = id;
  }
  return d.dialogTemplate.get();
}

Window* DialogCreate(Module* /*module*/, const DialogTemplate* dialogTemplate, DialogProc proc,
                     std::intptr_t parameter) {
  FakeCall c("DialogCreate");
  c.call().number = parameter;
  if (const std::uint32_t e = c.Start(u"")) return c.Fail(e), nullptr;
  Data& d = c.data();
  if (dialogTemplate == nullptr || dialogTemplate != d.dialogTemplate.get()) {
    return c.Fail(kErrorResourceDataNotFound), nullptr;
  }
  Window* dialog = AddWindow(d, nullptr, 0, u"");
  AddWindow(d, dialog, kStaticControl, u"Copying files, please wait...");
  AddWindow(d, dialog, kProgressControl, u"");
  c.RecordNow();
  // Like the device, the dialog procedure sees the initialising message inside the call.
  if (proc != nullptr) {
    c.Unlock();
    proc(dialog, kMessageInitDialog, 0, parameter);
    c.Relock();
  }
  return dialog;
}

Window* DialogItem(Window* dialog, int id) {
  FakeCall c("DialogItem");
  c.call().number = id;
  if (const std::uint32_t e = c.Start(u"")) return c.Fail(e), nullptr;
  Data& d = c.data();
  if (FindWindow(d, dialog) == nullptr) return c.Fail(kErrorInvalidWindowHandle), nullptr;
  for (auto& [key, window] : d.windows) {
    if (window->parent == dialog && window->id == id) return window.get();
  }
  return c.Fail(kErrorControlIdNotFound), nullptr;
}

bool WindowSetText(Window* window, const char16_t* text) {
  FakeCall c("WindowSetText");
  if (const std::uint32_t e = c.Start(View(text))) return c.Fail(e), false;
  Window* w = FindWindow(c.data(), window);
  if (w == nullptr) return c.Fail(kErrorInvalidWindowHandle), false;
  c.call().number = w->id;
  w->text = View(text);
  return true;
}

bool WindowRepaint(Window* window) {
  FakeCall c("WindowRepaint");
  Window* w = FindWindow(c.data(), window);
  if (const std::uint32_t e = c.Start(w != nullptr ? w->text : u"")) return c.Fail(e), false;
  if (w == nullptr) return c.Fail(kErrorInvalidWindowHandle), false;
  c.call().number = w->id;
  return true;
}

bool WindowDestroy(Window* window) {
  FakeCall c("WindowDestroy");
  Data& d = c.data();
  Window* w = FindWindow(d, window);
  if (const std::uint32_t e = c.Start(w != nullptr ? w->text : u"")) return c.Fail(e), false;
  if (w == nullptr) return c.Fail(kErrorInvalidWindowHandle), false;
  c.call().number = w->id;
  // Controls go with their dialog.
  for (auto it = d.windows.begin(); it != d.windows.end();) {
    if (it->second->parent == w) {
      it = d.windows.erase(it);
    } else {
      ++it;
    }
  }
  d.windows.erase(window);
  return true;
}

void CursorSet(Module* /*module*/, std::uintptr_t cursorId) {
  FakeCall c("CursorSet");
  c.call().number = static_cast<std::int64_t>(cursorId);
  if (const std::uint32_t e = c.Start(u"")) c.Fail(e);
}

}  // namespace plat
