#include "platform/resources.h"

#include <atomic>

namespace varnel {

namespace {
std::atomic<ResourceFailureHook> g_failureHook{nullptr};
}  // namespace

ResourceFailureHook SetResourceFailureHook(ResourceFailureHook hook) {
  return g_failureHook.exchange(hook);
}

bool ResourceRefused(ResourceKind kind, size_t bytes) {
  const ResourceFailureHook hook = g_failureHook.load();
  return hook != nullptr && hook(kind, bytes);
}

std::unique_ptr<uint8_t[]> TryAllocateBytes(size_t bytes) {
  if (bytes == 0 || ResourceRefused(ResourceKind::kMemory, bytes)) return nullptr;
  // Default-initialised: the buffer is filled before it is read, and leaving
  // it untouched spares the system from providing every page at once.
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]);
}

}  // namespace varnel
