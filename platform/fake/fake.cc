// Core of the in-memory fake backend: state, call recording, failure injection,
// last error, debug output and the generic parts of the control API.
#include <algorithm>
#include <utility>

#include "platform/call_observer.h"
#include "platform/fake/state.h"
#include "platform/utf.h"

namespace plat::fake::internal {

namespace {

thread_local std::uint32_t tLastError = 0;
thread_local int tObservedDepth = 0;

// Lets the fake record and fail the operations of the shared stream and file layer.
class SharedLayerObserver : public detail::CallObserver {
 public:
  std::uint32_t Begin(const char* op, const char16_t* text) override {
    ++tObservedDepth;
    State& s = GlobalState();
    std::lock_guard lock(s.mu);
    return CheckInjection(*s.data, op, View(text));
  }
  void End(const detail::CallRecord& record) override {
    Call call;
    call.op = record.op;
    call.text = View(record.text);
    call.text2 = View(record.text2);
    call.hasText2 = record.text2 != nullptr;
    call.number = record.number;
    call.ok = record.ok;
    {
      State& s = GlobalState();
      std::lock_guard lock(s.mu);
      s.data->calls.push_back(std::move(call));
    }
    --tObservedDepth;
  }
};

SharedLayerObserver gObserver;
// Installed during static initialisation: this file is always linked with the fake.
[[maybe_unused]] const bool gObserverInstalled = (detail::SetCallObserver(&gObserver), true);

}  // namespace

ThreadRun::~ThreadRun() {
  if (!thread.joinable()) return;
  // The last reference can be dropped by the thread itself as it ends.
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();
  } else {
    thread.join();
  }
}

Data::Data() : root(std::make_unique<Node>()) {
  root->dir = true;
  static const char16_t* const kRootNames[3] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER",
                                                u"HKEY_LOCAL_MACHINE"};
  for (int i = 0; i < 3; ++i) {
    regRoots[i] = std::make_unique<RegNode>();
    regRoots[i]->path = kRootNames[i];
  }
}

State& GlobalState() {
  // Never destroyed: a thread started by a test may still call in while the process exits.
  static State* state = [] {
    auto* s = new State;
    s->data = std::make_unique<Data>();
    return s;
  }();
  return *state;
}

std::u16string Fold(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return out;
}

bool EqualFolded(std::u16string_view a, std::u16string_view b) { return Fold(a) == Fold(b); }

std::vector<std::u16string> SplitPath(std::u16string_view path) {
  std::vector<std::u16string> parts;
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == u'\\') ++i;
    const std::size_t start = i;
    while (i < path.size() && path[i] != u'\\') ++i;
    if (i > start) parts.emplace_back(path.substr(start, i - start));
  }
  return parts;
}

std::u16string PathKey(std::u16string_view path) {
  std::u16string key;
  for (const std::u16string& part : SplitPath(path)) key += u"\\" + Fold(part);
  return key.empty() ? u"\\" : key;
}

std::uint32_t CheckInjection(Data& data, const std::string& op, std::u16string_view text) {
  std::uint32_t error = 0;
  for (Injection& inj : data.injections) {
    if (inj.failure.op != op) continue;
    if (!inj.failure.path.empty() && !EqualFolded(inj.failure.path, text)) continue;
    ++inj.seen;
    const bool hit = inj.failure.occurrence == 0 || inj.seen == inj.failure.occurrence;
    if (hit && error == 0) error = inj.failure.error;
  }
  return error;
}

FakeCall::FakeCall(const char* op)
    : lock_(GlobalState().mu), record_(tObservedDepth == 0 && GlobalState().data->recording) {
  call_.op = op;
}

std::uint32_t FakeCall::Start(std::u16string_view text) {
  call_.text = std::u16string(text);
  return record_ ? CheckInjection(data(), call_.op, text) : 0;
}

FakeCall::~FakeCall() {
  if (record_) data().calls.push_back(std::move(call_));
}

void FakeCall::Fail(std::uint32_t error) {
  call_.ok = false;
  tLastError = error;
}

void FakeCall::RecordNow() {
  if (!record_) return;
  data().calls.push_back(call_);
  record_ = false;
}

}  // namespace plat::fake::internal

namespace plat {

using fake::internal::FakeCall;

std::uint32_t LastError() { return fake::internal::tLastError; }

void SetLastErrorCode(std::uint32_t code) { fake::internal::tLastError = code; }

void DebugOutput(const char16_t* text) {
  FakeCall c("DebugOutput");
  c.Start(fake::internal::View(text));
  c.data().debug += fake::internal::View(text);
}

}  // namespace plat

namespace plat::fake {

using namespace internal;

void Reset() {
  std::unique_ptr<Data> old;
  {
    State& s = GlobalState();
    std::lock_guard lock(s.mu);
    old = std::exchange(s.data, std::make_unique<Data>());
  }
  // Destroyed without the lock: ending handles may wait for threads that call the fake.
  old.reset();
  detail::SetCallObserver(&gObserver);
}

void PauseCallRecording() {
  // The shared layer then reaches no observer at all, so it costs what it
  // costs on a device.
  detail::SetCallObserver(nullptr);
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  s.data->recording = false;
}

void SetModulePath(const std::u16string& path) {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  s.data->modulePath = path;
}

void SetMutexHeldElsewhere(const std::u16string& name) {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  s.data->mutexHeldElsewhere.insert(name);
}

void SetThreadWaitTimeouts(int n) {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  s.data->threadWaitTimeouts = n;
}

void InjectFailure(const Failure& failure) {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  s.data->injections.push_back(Injection{failure, 0});
}

const std::vector<Call>& Calls() {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  return s.data->calls;
}

std::vector<Call> CallsOf(const std::string& op) {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  std::vector<Call> out;
  std::copy_if(s.data->calls.begin(), s.data->calls.end(), std::back_inserter(out),
               [&](const Call& c) { return c.op == op; });
  return out;
}

std::u16string DebugText() {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  return s.data->debug;
}

std::string DebugTextUtf8() { return utf::ToUtf8Lenient(DebugText()); }

}  // namespace plat::fake
