#include "api/handle_registry.h"

#include <cstdlib>

#include "instance/camera_instance.h"
#include "platform/clock.h"

namespace varnel {

namespace {
int RuntimeRandom() { return std::rand(); }
}  // namespace

HandleRegistry::HandleRegistry(RandomSource random)
    : random_(random != nullptr ? random : &RuntimeRandom) {}

HandleRegistry::~HandleRegistry() {
  while (cursor_ != nullptr) {
    // The instance is deliberately not destroyed here (see the header).
    cursor_->instance = nullptr;
    Unlink(cursor_);
  }
}

uint32_t HandleRegistry::MakeHandle() {
  uint32_t handle =
      static_cast<uint32_t>(random_()) + CurrentClock().TickCount() + static_cast<uint32_t>(count_);
  while (handle == 0 || Contains(handle)) ++handle;
  return handle;
}

void HandleRegistry::Insert(uint32_t handle, std::unique_ptr<CameraInstance> instance) {
  Entry* entry = new Entry;
  entry->handle = handle;
  entry->instance = instance.release();
  if (cursor_ == nullptr) {
    entry->previous = entry;
    entry->next = entry;
    count_ = 1;
  } else {
    entry->previous = cursor_->previous;
    entry->next = cursor_;
    cursor_->previous->next = entry;
    cursor_->previous = entry;
    ++count_;
  }
  cursor_ = entry;
}

HandleRegistry::Entry* HandleRegistry::Find(uintptr_t handle) {
  if (cursor_ == nullptr) return nullptr;
  const uint32_t last = cursor_->previous->handle;
  Entry* entry = cursor_;
  while (static_cast<uintptr_t>(entry->handle) != handle) {
    if (entry->handle == last) return nullptr;
    entry = entry->next;
    cursor_ = entry;
  }
  return entry;
}

CameraInstance* HandleRegistry::Lookup(uintptr_t handle) {
  Entry* entry = Find(handle);
  return entry != nullptr ? entry->instance : nullptr;
}

bool HandleRegistry::Release(uintptr_t handle) {
  Entry* entry = Find(handle);
  if (entry == nullptr || entry->instance == nullptr) return false;
  delete entry->instance;
  entry->instance = nullptr;
  // The instance's destructor could in principle reach the registry; finding
  // the entry again leaves the cursor on it whatever happened meanwhile.
  entry = Find(handle);
  if (entry == nullptr) return true;
  Unlink(entry);
  return true;
}

std::vector<uint32_t> HandleRegistry::HandlesFromCursor() const {
  std::vector<uint32_t> handles;
  if (cursor_ == nullptr) return handles;
  const Entry* entry = cursor_;
  do {
    handles.push_back(entry->handle);
    entry = entry->next;
  } while (entry != cursor_);
  return handles;
}

bool HandleRegistry::Contains(uint32_t handle) const {
  if (cursor_ == nullptr) return false;
  const Entry* entry = cursor_;
  do {
    if (entry->handle == handle) return true;
    entry = entry->next;
  } while (entry != cursor_);
  return false;
}

void HandleRegistry::Unlink(Entry* entry) {
  --count_;
  if (entry->next == entry) {
    cursor_ = nullptr;
  } else {
    entry->previous->next = entry->next;
    entry->next->previous = entry->previous;
    cursor_ = entry->next;
  }
  delete entry;
}

namespace {
// Built while the library loads, before any export can be called; it is the
// only object the library constructs at load time.
HandleRegistry gRegistry;
}  // namespace

HandleRegistry& Registry() { return gRegistry; }

}  // namespace varnel
