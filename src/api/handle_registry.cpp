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
  // No lock: nothing calls in while the library unloads, and at process exit
  // on Windows a thread that held the lock may have been ended while in it,
  // which would leave the lock taken for good.
  while (cursor_ != nullptr) {
    // The instance is deliberately not destroyed here (see the header).
    cursor_->instance = nullptr;
    Unlink(cursor_);
  }
}

uint32_t HandleRegistry::MakeHandle() {
  std::lock_guard<std::mutex> lock(mutex_);
  return MakeHandleLocked();
}

uint32_t HandleRegistry::MakeHandleLocked() {
  uint32_t handle =
      static_cast<uint32_t>(random_()) + CurrentClock().TickCount() + static_cast<uint32_t>(count_);
  while (handle == 0 || Contains(handle)) ++handle;
  return handle;
}

void HandleRegistry::Insert(uint32_t handle, std::unique_ptr<CameraInstance> instance) {
  std::lock_guard<std::mutex> lock(mutex_);
  InsertLocked(handle, std::move(instance));
}

uint32_t HandleRegistry::InsertNew(std::unique_ptr<CameraInstance> instance) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t handle = MakeHandleLocked();
  InsertLocked(handle, std::move(instance));
  return handle;
}

void HandleRegistry::InsertLocked(uint32_t handle, std::unique_ptr<CameraInstance> instance) {
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
  std::lock_guard<std::mutex> lock(mutex_);
  return FindLocked(handle);
}

HandleRegistry::Entry* HandleRegistry::FindLocked(uintptr_t handle) {
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
  std::lock_guard<std::mutex> lock(mutex_);
  Entry* entry = FindLocked(handle);
  return entry != nullptr ? entry->instance : nullptr;
}

bool HandleRegistry::Release(uintptr_t handle) {
  CameraInstance* instance = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry* entry = FindLocked(handle);
    if (entry == nullptr || entry->instance == nullptr) return false;
    instance = entry->instance;
    // From here lookups of the handle fail, as for an unknown one.
    entry->instance = nullptr;
  }
  // Destroyed outside the lock: stopping a stream waits for its threads, and
  // the other cameras' threads of the application must not wait meanwhile.
  delete instance;
  std::lock_guard<std::mutex> lock(mutex_);
  // Entries made or removed meanwhile may have moved the ring; finding the
  // entry again leaves the cursor on it whatever happened.
  Entry* entry = FindLocked(handle);
  if (entry == nullptr) return true;
  Unlink(entry);
  return true;
}

int HandleRegistry::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

uint32_t HandleRegistry::CursorHandle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cursor_ != nullptr ? cursor_->handle : 0;
}

std::vector<uint32_t> HandleRegistry::HandlesFromCursor() const {
  std::lock_guard<std::mutex> lock(mutex_);
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
