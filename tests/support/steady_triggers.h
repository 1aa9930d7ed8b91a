// Triggers at a steady rate, as a production line fires them, while
// automatic exposure changes gain or exposure on the frames and a second
// thread of the application changes gain, exposure, mirrors and filters: the
// body shared by the in-process test (tests/api_threads) and the test through
// the DLL under Wine against the FUSE head (tests/win32fuse_dll).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "sim/virtual_head.h"
#include "support/message_sink.h"
#include "varnel.h"

namespace varnel::testing {

// The head's trigger input as the test reaches it: in process, or through
// the FUSE head's files.
class TriggerInput {
 public:
  virtual ~TriggerInput() = default;
  // Whether the head runs in trigger mode.
  virtual bool Armed() = 0;
  // `count` pulses at `hz`, whether or not the frames are read.
  virtual void Start(double hz, uint64_t count) = 0;
  virtual TriggerCounters Counts() = 0;
};

struct SteadyTriggerPlan {
  int autoIris = 2;  // 1 exposure, 2 gain
  int width = 0;     // of the pictures (8-bit monochrome)
  int height = 0;
  double hz = 0;
  int triggers = 0;
  // Gain and exposure values the second thread alternates between, inside
  // the model's ranges.
  int gains[2] = {};
  int exposures[2] = {};
};

// Arms the handle (8-bit monochrome, camera selected), fires the plan's
// triggers and checks that each gave exactly one frame message, and that the
// head saw each triggered frame read once, in order. Returns the messages.
inline int RunSteadyTriggers(CameraHandle h, TriggerInput& input, const SteadyTriggerPlan& plan) {
  EXPECT_EQ(Varnel_SetAutoIris(h, plan.autoIris), 1);
  const int stride = (plan.width + 3) & ~3;
  std::vector<uint8_t> buffer(static_cast<size_t>(stride) * plan.height);
  MessageSink sink;
  if (Varnel_Trigger(h, sink.Window(), buffer.data(), static_cast<int>(buffer.size()), 1) != 1) {
    ADD_FAILURE() << "Varnel_Trigger failed";
    return 0;
  }
  // The start has run the camera in trigger mode before the call returned.
  EXPECT_TRUE(input.Armed());

  // Everything an application may change while triggered. The thread never
  // sleeps on the library's clock, so it does not move a test's clock on.
  std::atomic<bool> done{false};
  std::thread settings([&] {
    for (int round = 0; !done.load(); ++round) {
      const int k = round & 1;
      Varnel_SetFilterValue(h, 13, plan.gains[k]);
      Varnel_SetFilterValue(h, 18, plan.exposures[k]);
      Varnel_SetMirrorV(h, k);
      Varnel_SetMirrorH(h, (round >> 1) & 1);
      Varnel_SetFilterValue(h, 11, k != 0 ? 120 : 100);  // gamma
      Varnel_SetFilterValue(h, 7, k != 0 ? 110 : 100);   // red gain
      std::this_thread::yield();
    }
  });

  input.Start(plan.hz, static_cast<uint64_t>(plan.triggers));
  int received = 0;
  int refused = 0;
  while (received < plan.triggers) {
    const std::optional<PostedMessage> message = sink.NextOf(kFrameMessage, kEventBoundMs);
    if (!message) break;  // a frame lost: no message will ever come for it
    refused += message->wParam == 0;
    ++received;
  }
  done.store(true);
  settings.join();
  EXPECT_EQ(Varnel_StopPreview(h), 1);

  const TriggerCounters counts = input.Counts();
  EXPECT_EQ(received, plan.triggers) << "frames received of triggers fired";
  EXPECT_EQ(refused, 0) << "frame messages without a frame";
  EXPECT_EQ(counts.fired, static_cast<uint64_t>(plan.triggers));
  EXPECT_EQ(counts.ignored, 0u) << "triggers while the camera was not waiting for them";
  EXPECT_EQ(counts.overrun, 0u) << "triggers while both frame areas were full";
  EXPECT_EQ(counts.cleared, 0u) << "triggered frames thrown away by a stop or restart";
  EXPECT_EQ(counts.read, counts.taken);
  int after = 0;
  for (const PostedMessage& message : sink.Drain()) after += message.message == kFrameMessage;
  EXPECT_EQ(after, 0) << "more frame messages than triggers";
  return received;
}

}  // namespace varnel::testing
