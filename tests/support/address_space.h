// How much of the process's address space is left: the figure that limits a
// 32-bit process long before its memory does.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace varnel::testing {

// Bytes of address space the process could still take, found by reserving
// (never committing) blocks of 1 MiB until the system refuses, then giving
// them back. On Windows a region's state alone does not tell: Wine marks
// large areas reserved for its own use and places allocations inside them.
// Only meaningful where the address space, not the memory, is the limit
// (a 32-bit process); elsewhere it returns 0.
inline uint64_t AddressSpaceFree() {
#ifdef _WIN32
  constexpr size_t kBlock = size_t{1} << 20;
  std::vector<void*> blocks;
  while (void* block = VirtualAlloc(nullptr, kBlock, MEM_RESERVE, PAGE_NOACCESS)) {
    blocks.push_back(block);
  }
  for (void* block : blocks) VirtualFree(block, 0, MEM_RELEASE);
  return static_cast<uint64_t>(blocks.size()) * kBlock;
#else
  return 0;
#endif
}

// Takes address space as a large application would (reserved, never
// committed) until only `leaveFree` bytes are left, and gives it back when
// destroyed. Does nothing where AddressSpaceFree() does not measure.
class AddressSpaceHold {
 public:
  explicit AddressSpaceHold(uint64_t leaveFree) {
#ifdef _WIN32
    constexpr size_t kBlock = size_t{1} << 20;
    const uint64_t free = AddressSpaceFree();
    for (uint64_t taken = 0; free > leaveFree && taken + kBlock <= free - leaveFree;
         taken += kBlock) {
      void* block = VirtualAlloc(nullptr, kBlock, MEM_RESERVE, PAGE_NOACCESS);
      if (block == nullptr) break;
      blocks_.push_back(block);
    }
#else
    (void)leaveFree;
#endif
  }
  ~AddressSpaceHold() {
#ifdef _WIN32
    for (void* block : blocks_) VirtualFree(block, 0, MEM_RELEASE);
#endif
  }
  AddressSpaceHold(const AddressSpaceHold&) = delete;
  AddressSpaceHold& operator=(const AddressSpaceHold&) = delete;

 private:
  std::vector<void*> blocks_;
};

}  // namespace varnel::testing
