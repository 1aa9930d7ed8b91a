// Waiting in tests for something another thread does. Machines differ in
// speed and sanitizers slow code many times over, so a wait never gives work
// a time budget: it returns as soon as the awaited state comes, and its bound
// is only a ceiling for a test that has stalled for good.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace varnel::testing {

// How long a wait goes on without any progress before it gives up.
inline constexpr std::chrono::seconds kStallBound{30};

// Polls `done` until it holds (true) or `bound` has passed (false).
template <typename Condition>
bool WaitUntil(Condition done, std::chrono::milliseconds bound = kStallBound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Waits on `changed` (with `lock` held) until `count()` reaches `target`.
// Gives up only when `count()` stands still for `stallBound`: each step of
// progress starts the bound again, so a long run on a slow machine passes and
// a stream that stops fails.
template <typename Count, typename Target>
bool WaitForCount(std::condition_variable& changed, std::unique_lock<std::mutex>& lock, Count count,
                  Target target, std::chrono::milliseconds stallBound = kStallBound) {
  while (count() < target) {
    const auto before = count();
    if (!changed.wait_for(lock, stallBound, [&] { return count() != before; })) return false;
  }
  return true;
}

}  // namespace varnel::testing
