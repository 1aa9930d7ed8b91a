// A camera handle on an in-process virtual head, with the message queue the
// library posts frame messages to, for the benchmarks that acquire through
// the C interface. Everything is given back in the right order on leaving.
#pragma once

#include <memory>

#include "sim/virtual_head.h"
#include "varnel.h"
#include "varnel_posix.h"

namespace varnel {

struct BenchSession {
  CameraHandle handle = 0;
  HWND queue = nullptr;
  std::shared_ptr<VirtualHead> head;

  BenchSession() = default;
  BenchSession(const BenchSession&) = delete;
  BenchSession& operator=(const BenchSession&) = delete;
  ~BenchSession() {
    if (handle != 0) Varnel_Release(handle);
    if (queue != nullptr) VarnelPosix_DestroyMessageQueue(queue);
    if (head) head->Detach();
  }
};

}  // namespace varnel
