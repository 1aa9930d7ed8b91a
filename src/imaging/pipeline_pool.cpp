// The process's pool of pipeline workers.
#include "imaging/pipeline_pool.h"

#include <algorithm>
#include <atomic>
#include <system_error>

namespace varnel {

namespace {

// The process's pool, made at its first use (nothing is built while the
// library loads).
std::atomic<PipelinePool*> gPool{nullptr};

}  // namespace

// Frees the pool at exit, or when the library is unloaded, but only when
// nobody holds it (and so no worker is left): a worker of a handle the
// application never released may still wait on it, and is neither joined
// here (under Windows' loader lock that never returns) nor left to wake in
// freed memory.
struct PoolOwner {
  ~PoolOwner() {
    PipelinePool* pool = gPool.load();
    if (pool != nullptr && pool->Idle()) delete pool;
  }
};

namespace {
PoolOwner gOwner;
}  // namespace

PipelinePool& PipelinePool::Process() {
  PipelinePool* pool = gPool.load(std::memory_order_acquire);
  if (pool != nullptr) return *pool;
  // Two threads making it at once: one keeps its pool, the other's goes.
  PipelinePool* made = new PipelinePool;
  if (gPool.compare_exchange_strong(pool, made, std::memory_order_acq_rel)) return *made;
  delete made;
  return *pool;
}

bool PipelinePool::Idle() {
  // Not waited for: at process exit on Windows a thread ended while it held
  // the lock would leave it taken for good; the pool is then left as held.
  std::unique_lock<std::mutex> lock(lifecycle_, std::try_to_lock);
  return lock.owns_lock() && holds_ == 0;
}

PipelinePool::Hold::Hold() {
  PipelinePool& pool = Process();
  std::lock_guard<std::mutex> lock(pool.lifecycle_);
  ++pool.holds_;
}

PipelinePool::Hold::~Hold() {
  PipelinePool& pool = Process();
  std::lock_guard<std::mutex> lock(pool.lifecycle_);
  if (--pool.holds_ == 0) pool.StopWorkers();
}

void PipelinePool::StartWorkers(int wanted) {
  while (static_cast<int>(workers_.size()) < wanted) {
    try {
      workers_.emplace_back(&PipelinePool::WorkerLoop, this);
    } catch (const std::system_error&) {
      // The system gives no more threads: the callers run what the workers
      // would have, and the frame is the same.
      return;
    }
  }
}

void PipelinePool::StopWorkers() {
  std::vector<std::thread> leaving;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    leaving.swap(workers_);
  }
  workAvailable_.notify_all();
  for (std::thread& worker : leaving) worker.join();
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = false;
}

void PipelinePool::Finish(Job& job, std::exception_ptr error) {
  if (error && !job.error) job.error = error;
  // Told under the lock: the caller cannot leave Run (and free the job)
  // before this thread lets go of it.
  if (++job.done == job.count) job.finished.notify_all();
}

void PipelinePool::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    workAvailable_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    // Workers stop only when no hold is left, and every frame holds the pool
    // while it runs: there is no frame in hand then.
    if (stopping_) return;
    Job* job = queue_.front();
    queue_.pop_front();
    const int index = job->next++;
    // The frame goes to the back of the line, so that the next free worker
    // serves another camera's frame first.
    if (job->next < job->count) queue_.push_back(job);
    lock.unlock();
    std::exception_ptr error;
    try {
      (*job->body)(index);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    Finish(*job, error);
  }
}

void PipelinePool::Run(int count, const std::function<void(int)>& body, int workers) {
  if (count <= 0) return;
  // A caller that is no camera instance (a test, a benchmark) holds the pool
  // for the call; the workers then last as long as the call.
  Hold hold;
  Job job;
  job.body = &body;
  job.count = count;
  std::unique_lock<std::mutex> lock(mutex_);
  StartWorkers(std::min(workers, count - 1));
  const bool shared = count > 1 && !workers_.empty();
  if (shared) {
    queue_.push_back(&job);
    workAvailable_.notify_all();
  }
  while (job.next < job.count) {
    const int index = job.next++;
    if (shared && job.next == job.count) {
      queue_.erase(std::find(queue_.begin(), queue_.end(), &job));
    }
    lock.unlock();
    std::exception_ptr error;
    try {
      body(index);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    Finish(job, error);
  }
  job.finished.wait(lock, [&job] { return job.done == job.count; });
  lock.unlock();
  if (job.error) std::rethrow_exception(job.error);
}

int PipelinePool::Workers() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(workers_.size());
}

}  // namespace varnel
