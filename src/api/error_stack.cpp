#include "api/error_stack.h"

namespace varnel {

void ErrorStack::Push(int code) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int i = kDepth - 1; i > 0; --i) slots_[i] = slots_[i - 1];
    slots_[0] = code;
  }
  // The window is set once, before any frame thread exists.
  if (window_ != nullptr) PostWindowMessage(window_, kMessageError, 0, code);
}

int ErrorStack::Pop() {
  std::lock_guard<std::mutex> lock(mutex_);
  int code = slots_[0];
  for (int i = 0; i < kDepth - 1; ++i) slots_[i] = slots_[i + 1];
  slots_[kDepth - 1] = 0;
  return code;
}

int ErrorStack::Peek(int index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index >= 0 && index < kDepth ? slots_[index] : 0;
}

}  // namespace varnel
