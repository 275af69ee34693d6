// Optional observer of the platform operations implemented by the shared layer
// (streams, file opening). A backend that records or fails calls on request (the
// in-memory fake) installs one; the others leave it unset and pay nothing.
// Program logic never includes this header.
#pragma once

#include <cstdint>

namespace plat::detail {

// The outcome of one observed operation.
struct CallRecord {
  const char* op = "";              // the platform.h function name, e.g. "StreamOpen"
  const char16_t* text = nullptr;   // first text argument (path)
  const char16_t* text2 = nullptr;  // second text argument (mode, line read)
  std::int64_t number = 0;          // count or value
  bool ok = true;
};

class CallObserver {
 public:
  virtual ~CallObserver() = default;
  // Called as op starts; 0 lets it run, any other value is the error it must fail with.
  virtual std::uint32_t Begin(const char* op, const char16_t* text) = 0;
  // Called once as the op ends, after every Begin.
  virtual void End(const CallRecord& record) = 0;
};

// Installs the observer (nullptr removes it).
void SetCallObserver(CallObserver* observer);
// The installed observer, or nullptr.
CallObserver* GetCallObserver();

// Brackets one observed operation: Begin at construction, End exactly once.
class ObservedCall {
 public:
  ObservedCall(const char* op, const char16_t* text);
  ~ObservedCall();
  ObservedCall(const ObservedCall&) = delete;
  ObservedCall& operator=(const ObservedCall&) = delete;

  // The injected error to fail with, or 0.
  std::uint32_t injected() const { return injected_; }
  // Sets what End reports; without a call the op is reported as failed.
  void Finish(bool ok, std::int64_t number = 0, const char16_t* text2 = nullptr);

 private:
  CallObserver* observer_;
  CallRecord record_;
  std::uint32_t injected_ = 0;
};

}  // namespace plat::detail
