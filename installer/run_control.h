// The installer's process entry (plat::AppMain): single instance, execution counter, progress dialog.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace brixcopy {

// Milliseconds between two progress updates while the worker runs.
inline constexpr std::uint32_t kProgressStepMs = 500;
// Longest line of dashes before the progress line starts again at one.
inline constexpr int kMaxDashes = 31;

// Progress dialog procedure: handles no message and answers 0 to every one.
std::intptr_t ProgressDlgProc(plat::Window* dialog, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam);

}  // namespace brixcopy
