#include "installer/run_control.h"

#include <cstdint>
#include <limits>

#include "installer/handles.h"
#include "installer/messages.h"
#include "installer/script_runner.h"
#include "platform/platform.h"
#include "platform/wstr.h"
#include "resources/resource.h"

namespace brixcopy {
namespace {

constexpr char16_t kCounterPath[] = u"\\Temp\\brixcopy.log";

// Held from creation until the process ends; deliberately never released or
// closed, since holding it is what keeps a second installer out.
plat::Object* g_instanceMutex = nullptr;

enum class RunKind { First, Later, NoCounter };

// The next count, held at the largest value instead of overflowing.
std::int32_t NextCount(std::int32_t count) {
  return count == std::numeric_limits<std::int32_t>::max() ? count : count + 1;
}

// Writes the counter into the open file and closes it; false, with the last
// error read right after the failing call, when it may not have been stored.
// A device may store the bytes only when the file is closed, so the close
// counts as much as the write.
bool StoreCounter(StreamHandle* file, std::int32_t counter, std::uint32_t* error) {
  bool stored = plat::StreamWriteInt32(counter, file->Get()) == 1;
  if (!stored) *error = plat::LastError();
  if (plat::StreamClose(file->Release()) != 0 && stored) {
    stored = false;
    *error = plat::LastError();
  }
  return stored;
}

// Writes a counter failure: what failed, the counter path and the error.
void ReportCounter(const char16_t* step, std::uint32_t error) {
  plat::DebugPrint(u"BrixCopy: cannot %s execution counter file: %s\r\nGetLastError returned: %d\r\n", step,
                   kCounterPath, error);
}

// Whether an open failed because there is no counter yet (no file, or no
// \Temp folder): only that makes a first run. Any other failure (a read
// error, access denied) says nothing about earlier runs.
bool NoCounterYet(std::uint32_t error) {
  return error == plat::kErrorFileNotFound || error == plat::kErrorPathNotFound;
}

// A later run: reads the count, writes it back one higher and reports it.
// A count that cannot be read, or a file that cannot be rewound, is reported
// and left as it is: writing it would reset the count or append to the file.
RunKind CountLaterRun(StreamHandle* existing) {
  std::int32_t counter = 0;
  // A file shorter than one whole item counts as holding 0.
  if (plat::StreamReadInt32(&counter, existing->Get()) != 1) {
    const std::uint32_t readError = plat::LastError();
    if (plat::StreamHasError(existing->Get())) {
      ReportCounter(u"read", readError);
      plat::DebugPrint(kFinishedBanner);
      return RunKind::NoCounter;
    }
    counter = 0;
  }
  plat::StreamRewind(existing->Get());
  const std::uint32_t rewindError = plat::LastError();
  if (plat::StreamHasError(existing->Get())) {
    ReportCounter(u"rewind", rewindError);
    plat::DebugPrint(kFinishedBanner);
    return RunKind::NoCounter;
  }
  counter = NextCount(counter);
  std::uint32_t error = 0;
  if (!StoreCounter(existing, counter, &error)) ReportCounter(u"write", error);
  plat::DebugPrint(u"This is execution %i\r\n", counter);
  plat::DebugPrint(kFinishedBanner);
  return RunKind::Later;
}

// Settles first run against later runs through the counter file and writes the
// matching message; a later run has its count written back.
RunKind CountExecution() {
  StreamHandle existing(plat::StreamOpen(kCounterPath, u"r+b"));
  if (existing) return CountLaterRun(&existing);
  if (const std::uint32_t openError = plat::LastError(); !NoCounterYet(openError)) {
    ReportCounter(u"open", openError);
    plat::DebugPrint(kFinishedBanner);
    return RunKind::NoCounter;
  }

  StreamHandle created(plat::StreamOpen(kCounterPath, u"w+b"));
  if (!created) {
    // Installing without a counter would install again on every start.
    ReportCounter(u"create", plat::LastError());
    plat::DebugPrint(kFinishedBanner);
    return RunKind::NoCounter;
  }
  std::uint32_t error = 0;
  if (!StoreCounter(&created, 1, &error)) {
    ReportCounter(u"write", error);
    // What makes later runs only count is that the file exists, whatever it
    // holds (a short file counts as 0). Installing is safe only once that is
    // certain; otherwise the next start could install a second time.
    StreamHandle check(plat::StreamOpen(kCounterPath, u"r+b"));
    if (!check) {
      plat::DebugPrint(kFinishedBanner);
      return RunKind::NoCounter;
    }
  }
  plat::DebugPrint(u"This is the first execution\r\n");
  return RunKind::First;
}

// A worker that cannot start installs nothing; the counter it was counted
// with goes again, so that the next start installs instead of only counting.
void ReportWorkerStart(std::uint32_t error) {
  plat::DebugPrint(u"BrixCopy: cannot start worker thread: %s\r\nGetLastError returned: %d\r\n",
                   u"CopyThreadProc", error);
  if (!plat::FileDelete(kCounterPath)) ReportCounter(u"delete", plat::LastError());
}

// Shows the progress dialog, starts the worker and grows the line of dashes
// every half second until the worker has ended.
void InstallWithProgress(plat::Module* instance) {
  WindowHandle dialog;
  const plat::DialogTemplate* dialogTemplate = plat::DialogTemplateLoad(instance, IDD_PROGRESS);
  if (dialogTemplate != nullptr)
    dialog.Reset(plat::DialogCreate(instance, dialogTemplate, &ProgressDlgProc, 0));
  plat::Window* dashes = dialog ? plat::DialogItem(dialog.Get(), IDC_PROGRESS_DASHES) : nullptr;

  ObjectHandle worker(plat::ThreadStart(&CopyThreadProc, nullptr));
  if (!worker) ReportWorkerStart(plat::LastError());

  char16_t progress[kMaxDashes + 1] = {};
  std::uint32_t waited = plat::kWaitFailed;
  do {
    if (wstr::Len(progress) == kMaxDashes) progress[0] = 0;
    wstr::Cat(progress, kMaxDashes + 1, u"-");
    if (dashes != nullptr) {
      plat::WindowSetText(dashes, progress);
      plat::WindowRepaint(dialog.Get());
    }
    // A worker that could not be started counts as ended at the first wait.
    waited = worker ? plat::WaitObject(worker.Get(), kProgressStepMs) : plat::kWaitFailed;
  } while (waited == plat::kWaitTimeout);

  dialog.Reset();
}

}  // namespace

std::intptr_t ProgressDlgProc(plat::Window* /*dialog*/, std::uint32_t /*message*/,
                              std::uintptr_t /*wParam*/, std::intptr_t /*lParam*/) {
  return 0;
}

}  // namespace brixcopy

int plat::AppMain(plat::Module* instance, const char16_t* /*commandLine*/) {
  using namespace brixcopy;
  plat::DebugPrint(u"\r\n----- BrixCopy Starting -----\r\n");

  // Cleared first so that only this creation can report an existing name.
  plat::SetLastErrorCode(0);
  g_instanceMutex = plat::MutexCreateNamed(u"BrixCopy", true);
  if (g_instanceMutex == nullptr) {
    // Without the mutex nothing keeps a second installer out: install nothing.
    plat::DebugPrint(u"BrixCopy: cannot create mutex: %s\r\nGetLastError returned: %d\r\n", u"BrixCopy",
                     plat::LastError());
    plat::DebugPrint(kFinishedBanner);
    return 0;
  }
  if (plat::LastError() == plat::kErrorAlreadyExists) {
    plat::DebugPrint(u"Another instance is running!\r\n");
    plat::DebugPrint(kFinishedBanner);
    return 0;
  }

  if (CountExecution() != RunKind::First) return 0;

  InstallWithProgress(instance);
  plat::DebugPrint(kFinishedBanner);
  return 0;
}
