// The process-wide map from camera handles to camera instances.
//
// Entries form a circular doubly linked ring. The cursor is both the ring's
// head and a search position: a lookup walks forward from it and leaves it on
// the entry it found, so a run of calls with one handle finds it at once.
//
// An application may run each camera from a thread of its own, so the ring
// and its cursor are guarded by a lock. The lock covers the registry only:
// one handle is still used from one thread at a time, and its release must
// not race with calls on that same handle.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace varnel {

class CameraInstance;

class HandleRegistry {
 public:
  // Source of the pseudo-random term of new handles; the C runtime's rand
  // unless a test supplies another.
  using RandomSource = int (*)();

  struct Entry {
    uint32_t handle = 0;
    CameraInstance* instance = nullptr;  // owned; null while being removed
    Entry* previous = nullptr;
    Entry* next = nullptr;
  };

  explicit HandleRegistry(RandomSource random = nullptr);
  // Unlinks and frees the remaining entries. The instances they hold are not
  // destroyed: stopping their threads is not safe while the library unloads,
  // so an application must release every handle before unloading.
  ~HandleRegistry();

  HandleRegistry(const HandleRegistry&) = delete;
  HandleRegistry& operator=(const HandleRegistry&) = delete;

  // A new handle: the next pseudo-random value plus the millisecond tick count
  // plus the number of entries, wrapping at 32 bits. Should that sum be 0 (the
  // failure value of Varnel_Initialize) or equal a registered handle (which
  // would make one of the two unreachable), it is stepped up by one until it
  // is neither.
  uint32_t MakeHandle();

  // Inserts {handle, instance} in front of the cursor and makes it the cursor.
  // Takes ownership of `instance`. May throw std::bad_alloc, in which case the
  // instance is destroyed and nothing is registered.
  void Insert(uint32_t handle, std::unique_ptr<CameraInstance> instance);
  // MakeHandle and Insert in one step, so that two threads initialising at
  // once cannot draw the same handle. Returns the handle.
  uint32_t InsertNew(std::unique_ptr<CameraInstance> instance);

  // The entry of `handle`, found by walking forward from the cursor and moving
  // the cursor along; null when the handle is not registered (the cursor then
  // rests on the entry that preceded it).
  Entry* Find(uintptr_t handle);

  // The instance behind `handle`, or null for an unknown handle or an entry
  // whose instance is being removed.
  CameraInstance* Lookup(uintptr_t handle);

  // Destroys the instance of `handle`, unlinks its entry and moves the cursor
  // to the entry's successor. Returns false, changing nothing but the cursor,
  // for an unknown handle.
  bool Release(uintptr_t handle);

  int Count() const;
  // Handle of the cursor entry; 0 when the registry is empty.
  uint32_t CursorHandle() const;
  // The handles in ring order, starting at the cursor.
  std::vector<uint32_t> HandlesFromCursor() const;

 private:
  // The operations above, with mutex_ held.
  uint32_t MakeHandleLocked();
  void InsertLocked(uint32_t handle, std::unique_ptr<CameraInstance> instance);
  Entry* FindLocked(uintptr_t handle);
  bool Contains(uint32_t handle) const;
  void Unlink(Entry* entry);

  mutable std::mutex mutex_;
  Entry* cursor_ = nullptr;
  int32_t count_ = 0;
  RandomSource random_;
};

// The library's registry, constructed when the library is loaded.
HandleRegistry& Registry();

}  // namespace varnel
