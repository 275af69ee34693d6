// Dialogs of the device simulator. The program's one dialog template is built
// in; a dialog keeps its controls' texts and, on a terminal, shows them in a box
// each time it is repainted. No message loop exists, as on the device the
// programs run none.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/console.h"
#include "platform/posix/device_state.h"
#include "platform/posix/error.h"
#include "platform/posix/module.h"
#include "platform/utf.h"
#include "resources/resource.h"

namespace plat {

struct DialogTemplate {
  struct Control {
    int id;
    const char16_t* text;
  };
  int id;
  const Control* controls;
  std::size_t count;
};

struct Window {
  Window* dialog = nullptr;  // owning dialog; nullptr for a dialog itself
  int id = 0;
  std::u16string text;
  std::vector<std::unique_ptr<Window>> controls;
};

namespace {

constexpr std::uint32_t kMessageInitDialog = 0x0110;

constexpr DialogTemplate::Control kProgressControls[] = {
    {-1, u"Copying files, please wait..."},
    {IDC_PROGRESS_DASHES, u""},
};
constexpr DialogTemplate kProgressTemplate = {IDD_PROGRESS, kProgressControls, 2};

bool IsOwnModule(const Module* module) { return module == nullptr || module == posix::InstanceModule(); }

bool Invalid() {
  SetLastErrorCode(kErrorInvalidHandle);
  return false;
}

void Show(const Window& dialog) {
  std::vector<std::string> rows;
  // The box belongs with the debug text: where that goes to a sink, the terminal is not ours.
  if (!posix::DebugOnConsole(posix::CurrentDeviceState())) return;
  for (const auto& control : dialog.controls) rows.push_back(utf::ToUtf8Lenient(control->text));
  posix::ConsoleShowBox(rows);
}

}  // namespace

const DialogTemplate* DialogTemplateLoad(Module* module, int id) {
  if (!IsOwnModule(module) || id != kProgressTemplate.id) {
    SetLastErrorCode(posix::kErrorResourceNotFound);
    return nullptr;
  }
  return &kProgressTemplate;
}

Window* DialogCreate(Module* module, const DialogTemplate* dialogTemplate, DialogProc proc,
                     std::intptr_t parameter) {
  (void)module;
  if (dialogTemplate == nullptr) {
    SetLastErrorCode(posix::kErrorInvalidParameter);
    return nullptr;
  }
  auto dialog = std::make_unique<Window>();
  for (std::size_t i = 0; i < dialogTemplate->count; ++i) {
    auto control = std::make_unique<Window>();
    control->dialog = dialog.get();
    control->id = dialogTemplate->controls[i].id;
    control->text = dialogTemplate->controls[i].text;
    dialog->controls.push_back(std::move(control));
  }
  if (proc != nullptr) proc(dialog.get(), kMessageInitDialog, 0, parameter);
  // The template's dialog is visible from the start.
  Show(*dialog);
  return dialog.release();
}

Window* DialogItem(Window* dialog, int id) {
  if (dialog == nullptr) {
    Invalid();
    return nullptr;
  }
  for (const auto& control : dialog->controls)
    if (control->id == id) return control.get();
  SetLastErrorCode(posix::kErrorControlIdNotFound);
  return nullptr;
}

bool WindowSetText(Window* window, const char16_t* text) {
  if (window == nullptr) return Invalid();
  window->text = text == nullptr ? u"" : text;
  return true;
}

bool WindowRepaint(Window* window) {
  if (window == nullptr) return Invalid();
  Show(window->dialog != nullptr ? *window->dialog : *window);
  return true;
}

bool WindowDestroy(Window* window) {
  if (window == nullptr) return Invalid();
  if (Window* dialog = window->dialog; dialog != nullptr) {
    auto& controls = dialog->controls;
    controls.erase(std::remove_if(controls.begin(), controls.end(),
                                  [window](const auto& control) { return control.get() == window; }),
                   controls.end());
    return true;
  }
  posix::ConsoleHideBox();
  delete window;
  return true;
}

void CursorSet(Module* module, std::uintptr_t cursorId) {
  (void)module;
  (void)cursorId;
}

}  // namespace plat
