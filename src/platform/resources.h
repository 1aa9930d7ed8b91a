// The memory and the threads an acquisition start takes, acquired without
// exceptions, and the seam through which tests make them run out.
//
// A start needs frame-sized buffers and two or three threads. When the
// system has no more of either, the start must fail with the documented
// error code and leave nothing behind; an exception must never cross the C
// interface or end a thread. Everything a start acquires therefore goes
// through these functions, which report failure as a result, and a test can
// make any one of them fail (the failure hook) to show that every start
// cleans up after every such failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace varnel {

enum class ResourceKind { kMemory, kThread };

// Asked before each acquisition; returning true makes that acquisition fail
// exactly as the system's refusal would. Null (the default): nothing fails.
// Called on the thread that acquires (the application's, for a start).
using ResourceFailureHook = bool (*)(ResourceKind kind, size_t bytes);

// Installs `hook` (null removes it) and returns the one it replaces.
ResourceFailureHook SetResourceFailureHook(ResourceFailureHook hook);

// True when the installed hook refuses this acquisition.
bool ResourceRefused(ResourceKind kind, size_t bytes);

// A buffer of `bytes` bytes whose contents are undefined (pages the system
// has not been asked for are not touched), or null when memory ran out or
// `bytes` is 0.
std::unique_ptr<uint8_t[]> TryAllocateBytes(size_t bytes);

// Starts `thread` running `function(args...)`. False, with `thread` left
// empty, when the system could not start a thread.
template <typename Function, typename... Args>
bool TryStartThread(std::thread& thread, Function&& function, Args&&... args) {
  if (ResourceRefused(ResourceKind::kThread, 0)) return false;
  try {
    thread = std::thread(std::forward<Function>(function), std::forward<Args>(args)...);
  } catch (const std::system_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace varnel
