#include "platform/registry.h"

#include <atomic>

namespace varnel {

namespace {
std::atomic<Registry*> gInstalledRegistry{nullptr};
}  // namespace

Registry& CurrentRegistry() {
  Registry* registry = gInstalledRegistry.load(std::memory_order_acquire);
  return registry != nullptr ? *registry : SystemRegistry();
}

Registry* SetCurrentRegistry(Registry* registry) {
  Registry* previous = gInstalledRegistry.exchange(registry, std::memory_order_acq_rel);
  return previous != nullptr ? previous : &SystemRegistry();
}

}  // namespace varnel
