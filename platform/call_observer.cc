#include "platform/call_observer.h"

#include <atomic>

namespace plat::detail {

namespace {
// Atomic because the installer's worker and main threads both run observed operations.
std::atomic<CallObserver*> gObserver{nullptr};
}  // namespace

void SetCallObserver(CallObserver* observer) { gObserver.store(observer); }

CallObserver* GetCallObserver() { return gObserver.load(); }

ObservedCall::ObservedCall(const char* op, const char16_t* text) : observer_(GetCallObserver()) {
  record_.op = op;
  record_.text = text;
  record_.ok = false;
  if (observer_ != nullptr) injected_ = observer_->Begin(op, text);
}

ObservedCall::~ObservedCall() {
  if (observer_ != nullptr) observer_->End(record_);
}

void ObservedCall::Finish(bool ok, std::int64_t number, const char16_t* text2) {
  record_.ok = ok;
  record_.number = number;
  record_.text2 = text2;
}

}  // namespace plat::detail
