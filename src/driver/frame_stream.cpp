#include "driver/frame_stream.h"

#include <algorithm>
#include <mutex>

#include "driver/frame_semaphore.h"
#include "platform/app_wait.h"
#include "platform/clock.h"
#include "platform/resources.h"

namespace varnel {

namespace {
// Pauses of the reader: after a frame thrown away because the camera was just
// reconfigured, and after a short read before the same area is read again.
constexpr uint32_t kPauseAfterDiscardMs = 28;
constexpr uint32_t kPauseAfterShortReadMs = 8;
// How often Stop looks again while a reader that passed its bound is still
// inside a call into the driver.
constexpr uint32_t kHostCallPollMs = 50;
}  // namespace

struct FrameStream::Context {
  FrameQueue queue;
  // Where the reader reads a frame it throws away (no free pool entry, or
  // the first frame after changes); as large as a pool buffer.
  std::unique_ptr<uint8_t[]> scratch;
  FrameSemaphore semaphore;
  PauseGate gate;
  std::atomic<bool> readerStop{false};
  std::atomic<bool> dispatcherStop{false};
  WaitableEvent readerDone{EventReset::kManual};
  WaitableEvent dispatcherDone{EventReset::kManual};
  std::shared_ptr<FrameReader> reader;
  std::shared_ptr<StreamStats> stats;
  StreamGeometry geometry;

  // The reader calls into the driver (ApplyPendingChanges) only between these
  // two, and never once it has been left behind: a reader left behind touches
  // nothing but this context.
  std::mutex hostMutex;
  bool inHostCall = false;
  bool leftBehind = false;

  bool EnterHostCall() {
    std::lock_guard<std::mutex> guard(hostMutex);
    if (leftBehind || readerStop.load()) return false;
    inHostCall = true;
    return true;
  }
  void LeaveHostCall() {
    std::lock_guard<std::mutex> guard(hostMutex);
    inHostCall = false;
  }
  // Marks the reader left behind unless it is inside a call into the driver.
  bool TryLeaveBehind() {
    std::lock_guard<std::mutex> guard(hostMutex);
    if (inHostCall) return false;
    leftBehind = true;
    return true;
  }
};

namespace {

void ReaderMain(std::shared_ptr<FrameStream::Context> context, StreamHost* host) {
  Clock& clock = CurrentClock();
  FrameStream::Context& c = *context;
  StreamStats& stats = *c.stats;
  const size_t bufferBytes = c.queue.BufferBytes();
  // Never transfer more than a buffer holds, whatever the geometry says.
  const uint32_t transferBytes =
      static_cast<uint32_t>(std::min<size_t>(c.geometry.transferBytes, bufferBytes));
  uint8_t* scratch = c.scratch.get();
  stats.timing.store(clock.TickCount());

  int area = 0;
  int held = -1;  // pool entry claimed for the frame being read, kept across short reads
  // True between a frame thrown away for applied changes and the next frame
  // read: changes sent in that interval join the batch that frame was thrown
  // away for.
  bool batchDiscarded = false;
  // The stretch of failed frame reads (transfers that brought nothing) going
  // on now, and whether the host has been told of it.
  bool readsFailing = false;
  bool failureReported = false;
  uint32_t failingSince = 0;
  // The setting changes the frames read from now on show: those the start
  // sent, later the count applied before the last frame thrown away for them.
  uint64_t shown = host->SettingsApplied();
  while (!c.readerStop.load()) {
    c.gate.Pass();
    if (c.readerStop.load() || !c.EnterHostCall()) break;
    const bool changesSent = host->ApplyPendingChanges();
    const uint64_t applied = host->SettingsApplied();
    c.LeaveHostCall();

    // At most one frame is thrown away per batch of changes. Changes made
    // while a frame was being thrown away are sent before the next frame and
    // show from the frame after it; throwing that frame away too would let an
    // application that changes settings faster than one frame (or a slow
    // host) starve the stream of every frame.
    if (changesSent && !batchDiscarded) {
      // The frame in the area was exposed with the old settings.
      c.reader->ReadFrame(area, scratch, transferBytes);
      if (c.readerStop.load()) break;
      area ^= 1;
      stats.framesDiscarded.fetch_add(1);
      clock.Sleep(kPauseAfterDiscardMs);
      batchDiscarded = true;
      shown = applied;
      continue;
    }
    batchDiscarded = false;
    // Changes sent without a frame thrown away show from the next frame on.
    const uint64_t settings = shown;
    if (changesSent) shown = applied;

    if (held < 0) held = c.queue.Claim();
    uint8_t* destination = held >= 0 ? c.queue.Buffer(held) : scratch;
    const uint32_t bytes = c.reader->ReadFrame(area, destination, transferBytes);
    // A frame that completes after Stop was asked for is neither counted nor
    // queued: after Stop every counted frame is delivered or dropped.
    if (c.readerStop.load()) break;
    if (bytes > 0) {
      readsFailing = false;
      failureReported = false;
    } else if (!readsFailing) {
      readsFailing = true;
      failingSince = clock.TickCount();
    } else if (!failureReported && clock.TickCount() - failingSince >= kReadsFailingReportMs) {
      failureReported = true;
      if (!c.EnterHostCall()) break;
      host->FramesStopped();
      c.LeaveHostCall();
    }
    if (bytes >= c.geometry.minimumBytes && bytes > 0) {
      area ^= 1;
      stats.frameCounter.fetch_add(1);
      stats.framesRead.fetch_add(1);
      if (held >= 0) {
        c.queue.Publish(held, settings);
        held = -1;
        c.semaphore.Release(1);
      } else {
        stats.framesDropped.fetch_add(1);  // no free pool entry: read into scratch
      }
    } else {
      clock.Sleep(kPauseAfterShortReadMs);
    }
  }
  if (held >= 0) c.queue.Unclaim(held);
  c.readerDone.Set();
}

void DispatcherMain(std::shared_ptr<FrameStream::Context> context, StreamHost* host) {
  FrameStream::Context& c = *context;
  while (!c.dispatcherStop.load()) {
    c.semaphore.Acquire();
    const int entry = c.queue.PopFront();
    uint8_t* buffer = c.queue.Buffer(entry);
    if (entry == kStopMarker || buffer == nullptr) break;
    // Nothing may end this thread but the stop: a frame whose delivery ran
    // out of memory is dropped, and the host hears of it.
    try {
      host->DeliverFrame(buffer, c.queue.SettingsOf(entry));
    } catch (const std::bad_alloc&) {
      c.stats->framesDropped.fetch_add(1);
      host->DeliveryFailed();
    }
    c.queue.Release(entry);
  }
  c.dispatcherDone.Set();
}

}  // namespace

FrameStream::FrameStream(StreamHost* host, std::shared_ptr<StreamStats> stats)
    : host_(host), stats_(std::move(stats)) {}

FrameStream::~FrameStream() {
  StopThreads();
  for (LeftBehind& entry : leftBehind_) {
    // A reader left behind uses only its own context; give it one more bound
    // to finish, then let it end on its own.
    if (entry.context->readerDone.Wait(readerStopBoundMs_)) {
      entry.thread.join();
    } else {
      entry.thread.detach();
    }
  }
}

bool FrameStream::AllocatePool(size_t bufferBytes) {
  context_.reset();
  if (ResourceRefused(ResourceKind::kMemory, sizeof(Context))) return false;
  std::shared_ptr<Context> context;
  try {
    context = std::make_shared<Context>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  context->stats = stats_;
  context->scratch = TryAllocateBytes(bufferBytes);
  if (!context->scratch || !context->queue.Allocate(bufferBytes)) return false;
  context_ = std::move(context);
  return true;
}

void FrameStream::FreePool() {
  if (context_ && !ThreadsExist()) {
    context_->queue.Free();
    context_.reset();
  }
}

FrameQueue* FrameStream::Pool() {
  return context_ && context_->queue.IsAllocated() ? &context_->queue : nullptr;
}

bool FrameStream::StartThreads(std::shared_ptr<FrameReader> reader, StreamGeometry geometry) {
  ReapReadersLeftBehind();
  if (ThreadsExist()) return true;
  if (!context_ || !context_->queue.IsAllocated() || !reader) return false;
  context_->reader = std::move(reader);
  context_->geometry = geometry;
  // The flags are cleared here, before the threads exist, rather than by the
  // threads themselves: a stop requested right after the start is then never
  // undone by a thread that starts late.
  context_->readerStop.store(false);
  context_->dispatcherStop.store(false);
  if (!TryStartThread(dispatcher_, DispatcherMain, context_, host_)) return false;
  if (!TryStartThread(reader_, ReaderMain, context_, host_)) {
    // The dispatcher ends at the stop marker and is joined: no thread of a
    // failed start is left running.
    context_->dispatcherStop.store(true);
    context_->queue.ClearAndAppendStop();
    context_->semaphore.Release(1);
    dispatcher_.join();
    return false;
  }
  return true;
}

bool FrameStream::WaitForReader() {
  Context& c = *context_;
  if (c.readerDone.WaitOnAppThread(readerStopBoundMs_, MessagePump::kDispatch)) return true;
  // The reader is still busy after the bound. Inside a frame transfer it is
  // left behind; inside a call into the driver it must be waited for, because
  // the driver's objects are about to be freed.
  for (;;) {
    if (c.TryLeaveBehind()) return false;
    if (c.readerDone.WaitOnAppThread(kHostCallPollMs, MessagePump::kDispatch)) return true;
  }
}

StopOutcome FrameStream::StopThreads() {
  if (!ThreadsExist()) return StopOutcome::kNoThreads;
  Context& c = *context_;
  c.readerStop.store(true);
  c.dispatcherStop.store(true);
  c.gate.Cancel();  // a paused reader must see the stop

  StopOutcome outcome = StopOutcome::kJoined;
  if (WaitForReader()) {
    reader_.join();
  } else {
    outcome = StopOutcome::kReaderLeftBehind;
    leftBehind_.push_back(LeftBehind{std::move(reader_), context_});
  }

  const int undelivered = c.queue.ClearAndAppendStop();
  stats_->framesDropped.fetch_add(static_cast<uint64_t>(undelivered));
  c.semaphore.Release(1);
  // The dispatcher does no transfers, so it is waited for without a bound;
  // serving messages keeps a listener that posts to this thread from blocking.
  c.dispatcherDone.WaitOnAppThread(kWaitForever, MessagePump::kDispatch);
  dispatcher_.join();

  if (outcome == StopOutcome::kReaderLeftBehind) {
    // The reader left behind still owns this context; the driver goes on with
    // a fresh pool the next time it starts.
    context_.reset();
  }
  ReapReadersLeftBehind();
  return outcome;
}

void FrameStream::Pause() {
  if (context_) context_->gate.Close();
}

void FrameStream::Resume() {
  if (context_) context_->gate.Open();
}

bool FrameStream::IsPaused() { return context_ && context_->gate.IsClosed(); }

bool FrameStream::WaitReaderParked(unsigned timeoutMs) {
  return context_ && context_->gate.WaitParked(timeoutMs);
}

void FrameStream::ReapReadersLeftBehind() {
  for (auto it = leftBehind_.begin(); it != leftBehind_.end();) {
    if (it->context->readerDone.Wait(0)) {
      it->thread.join();
      it = leftBehind_.erase(it);
    } else {
      ++it;
    }
  }
}

size_t FrameStream::ReadersLeftBehind() {
  ReapReadersLeftBehind();
  return leftBehind_.size();
}

}  // namespace varnel
