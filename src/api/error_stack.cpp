#include "api/error_stack.h"

namespace varnel {

void ErrorStack::Push(int code) {
  for (int i = kDepth - 1; i > 0; --i) slots_[i] = slots_[i - 1];
  slots_[0] = code;
  if (window_ != nullptr) PostWindowMessage(window_, kMessageError, 0, code);
}

int ErrorStack::Pop() {
  int code = slots_[0];
  for (int i = 0; i < kDepth - 1; ++i) slots_[i] = slots_[i + 1];
  slots_[kDepth - 1] = 0;
  return code;
}

int ErrorStack::Peek(int index) const { return index >= 0 && index < kDepth ? slots_[index] : 0; }

}  // namespace varnel
