// The process's pool of pipeline workers: the threads every camera
// instance's frame pipeline hands the slabs of its frames to, so that one
// camera uses every core and several cameras share the cores instead of
// each starting threads of its own.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace varnel {

struct PoolOwner;

class PipelinePool {
 public:
  // The one pool of the process. Its workers are joined when the last hold
  // goes (below); the pool itself is freed at exit or unload only when no
  // hold is left, so no thread ever waits on freed memory.
  static PipelinePool& Process();

  // Keeps the pool's workers while it lives. Workers are started when a frame
  // first needs them and joined, on the thread that gives up the last hold,
  // when the last hold goes: a camera instance holds the pool from its making
  // to its release, so an application that releases its handles leaves no
  // thread behind, and the threads are never joined while the library is
  // being unloaded (under Windows' loader lock that would deadlock).
  class Hold {
   public:
    Hold();
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
  };

  // Runs body(0) .. body(count - 1), each once, and returns when all have
  // run. The calling thread runs the indices no worker has taken, so a frame
  // never waits for a worker busy with another camera's frame: it only ever
  // waits for an index a worker has already begun. Workers take one index at
  // a time from the frames in hand, in turn, so cameras share them fairly.
  // `workers` is how many workers the pool should have for this call (more
  // are started when it has fewer; none are stopped). An exception thrown by
  // a body is passed on to the caller once every index has run.
  void Run(int count, const std::function<void(int)>& body, int workers);

  // Workers running now (for tests).
  int Workers();
  // Whether nobody holds the pool (so it has no workers); false also when
  // the lock cannot be had at once.
  bool Idle();

 private:
  struct Job {
    const std::function<void(int)>* body = nullptr;
    int count = 0;
    int next = 0;  // the next index nobody has taken
    int done = 0;  // indices run to the end
    std::exception_ptr error;
    std::condition_variable finished;
  };

  PipelinePool() = default;
  friend struct PoolOwner;
  void StartWorkers(int wanted);  // with mutex_ held
  void StopWorkers();             // with lifecycle_ held and no hold left
  void WorkerLoop();
  void Finish(Job& job, std::exception_ptr error);  // with mutex_ held

  // Taken by holds as they come and go; joining happens under it, so a new
  // hold never meets workers that are being stopped.
  std::mutex lifecycle_;
  int holds_ = 0;

  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::deque<Job*> queue_;  // frames with indices nobody has taken, in turn
  std::vector<std::thread> workers_;
  bool stopping_ = false;
};

}  // namespace varnel
