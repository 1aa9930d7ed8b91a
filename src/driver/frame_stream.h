// The two streaming threads of a driver and everything they share: the frame
// pool and ready queue, the frame semaphore, the pause gate and the stop flags.
//
// The ReaderThread reads whole frames from the two frame areas alternately
// into the pool and queues them; the DispatcherThread hands each queued frame
// to the driver for conversion and delivery. What the threads share lives in
// one reference-counted context, so that a reader that is stuck in a transfer
// which never completes can be left behind by Stop without anything it uses
// being freed under it: it ends, and frees its context, when the transfer
// finally returns.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "driver/frame_queue.h"
#include "driver/pause_gate.h"

namespace varnel {

// Frame counts of one driver. They only ever grow, across any number of
// starts and stops; after a stop every frame read is either delivered or
// dropped. The frame counter and the timing value are the driver's fields of
// the same names.
struct StreamStats {
  std::atomic<uint64_t> framesRead{0};       // complete frames read while streaming
  std::atomic<uint64_t> framesDelivered{0};  // handed to the listeners or to GetImage
  std::atomic<uint64_t> framesDropped{0};    // read or converted, never handed out
  std::atomic<uint64_t> framesDiscarded{0};  // thrown away after applied changes
  std::atomic<int> frameCounter{0};          // frames read since the last start
  std::atomic<uint32_t> timing{0};           // tick count at stream start, later elapsed ms
};

// What the threads need from their driver.
class StreamHost {
 public:
  virtual ~StreamHost() = default;
  // Reader thread, between frames: sends pending sensor changes to the camera.
  // True when something was sent: the next frame is then thrown away, unless
  // one was just thrown away for changes sent before (see ReaderMain).
  virtual bool ApplyPendingChanges() = 0;
  // The count of setting changes the camera has applied so far
  // (SensorDevice::SettingsApplied); a host without settings counts none.
  virtual uint64_t SettingsApplied() { return 0; }
  // Dispatcher thread: converts and delivers one complete raw frame, exposed
  // with the changes up to `settings` applied.
  virtual void DeliverFrame(uint8_t* frame, uint64_t settings) = 0;
  // Dispatcher thread: a frame could not be delivered for want of memory
  // (it is counted as dropped).
  virtual void DeliveryFailed() {}
  // Reader thread: frame reads have failed for kReadsFailingReportMs without
  // one succeeding (a camera pulled out, a volume that went away). Told once
  // per such stretch; the reader goes on trying.
  virtual void FramesStopped() {}
};

// The frame transfers of the reader. The reader shares its ownership, so a
// reader left behind by Stop keeps it alive until its last transfer returns.
class FrameReader {
 public:
  virtual ~FrameReader() = default;
  // Reads one frame from area 0 (A) or 1 (B) into `buffer` in one transfer of
  // `bytes`. Returns the bytes transferred; 0 when the transfer failed.
  virtual uint32_t ReadFrame(int area, uint8_t* buffer, uint32_t bytes) = 0;
};

struct StreamGeometry {
  uint32_t transferBytes = 0;  // bytes of one frame transfer (whole sectors)
  uint32_t minimumBytes = 0;   // a read of fewer bytes is short and is repeated
};

enum class StopOutcome {
  kNoThreads,        // there were no threads to stop
  kJoined,           // both threads ended and were joined
  kReaderLeftBehind  // the reader did not end within its bound (see SetReaderStopBound)
};

// How long Stop waits for a reader that is inside a frame transfer before it
// leaves that reader behind. A frame transfer normally takes one frame time,
// well below this even at long exposures.
inline constexpr uint32_t kDefaultReaderStopBoundMs = 3000;

// How long frame reads fail, on the library's clock, before the reader tells
// its host that frames stopped. A read or two that fail now and then are
// retried quietly; a camera that has gone is reported well within a second.
inline constexpr uint32_t kReadsFailingReportMs = 500;

class FrameStream {
 public:
  FrameStream(StreamHost* host, std::shared_ptr<StreamStats> stats);
  ~FrameStream();
  FrameStream(const FrameStream&) = delete;
  FrameStream& operator=(const FrameStream&) = delete;

  // Makes the five pool buffers of `bufferBytes` each, all free, and the
  // reader's scratch buffer of the same size. False, with nothing kept, when
  // memory ran out.
  bool AllocatePool(size_t bufferBytes);
  // Frees the pool. The threads must have been stopped.
  void FreePool();
  // The pool, or null when none is allocated. Single-shot frames use entry 0.
  FrameQueue* Pool();

  // Starts the DispatcherThread and then the ReaderThread on the allocated
  // pool. Does nothing (true) when threads exist already; false when no pool
  // is allocated or the system could not start a thread (a dispatcher that
  // started is stopped again, so no thread is left).
  bool StartThreads(std::shared_ptr<FrameReader> reader, StreamGeometry geometry);
  bool ThreadsExist() const { return reader_.joinable() || dispatcher_.joinable(); }

  // Stops both threads: waits for the reader (at most the reader stop bound
  // while it is inside a transfer; serving window messages on Windows), then
  // ends the dispatcher with the stop marker and waits for it. Frames still
  // queued are counted as dropped.
  StopOutcome StopThreads();

  // Makes the reader stop at its next safe point between frames, or go on.
  void Pause();
  void Resume();
  bool IsPaused();
  // True while the reader waits at its safe point (for tests).
  bool WaitReaderParked(unsigned timeoutMs);

  void SetReaderStopBound(uint32_t milliseconds) { readerStopBoundMs_ = milliseconds; }
  // Readers left behind by earlier stops that have not ended yet.
  size_t ReadersLeftBehind();

  struct Context;

 private:
  void ReapReadersLeftBehind();
  bool WaitForReader();

  StreamHost* host_;
  std::shared_ptr<StreamStats> stats_;
  std::shared_ptr<Context> context_;
  std::thread reader_;
  std::thread dispatcher_;
  uint32_t readerStopBoundMs_ = kDefaultReaderStopBoundMs;

  struct LeftBehind {
    std::thread thread;
    std::shared_ptr<Context> context;
  };
  std::vector<LeftBehind> leftBehind_;
};

}  // namespace varnel
