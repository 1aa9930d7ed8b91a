// The streaming threads against doubles: order and completeness of delivered
// frames, area alternation, short reads, discarded frames, drops, the pause
// point and the bounded stop.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "driver/frame_stream.h"
#include "stream_doubles.h"

namespace varnel {
namespace {

using testing::RecordingHost;
using testing::ScopedFastClock;
using testing::ScriptedReader;
using testing::WaitUntil;

constexpr uint32_t kFrameBytes = 4096;

class FrameStreamTest : public ::testing::Test {
 protected:
  void Start() {
    stream_.AllocatePool(kFrameBytes);
    stream_.StartThreads(reader_, StreamGeometry{kFrameBytes, kFrameBytes});
  }
  std::set<const uint8_t*> PoolBuffers() {
    std::set<const uint8_t*> buffers;
    for (int i = 0; i < kFramePoolSize; ++i) buffers.insert(stream_.Pool()->Buffer(i));
    return buffers;
  }

  ScopedFastClock clock_;
  std::shared_ptr<StreamStats> stats_ = std::make_shared<StreamStats>();
  RecordingHost host_{kFrameBytes};
  std::shared_ptr<ScriptedReader> reader_ = std::make_shared<ScriptedReader>(kFrameBytes);
  FrameStream stream_{&host_, stats_};
};

// Catches lost, reordered, duplicated or torn frames between the reader and
// the dispatcher, and a bookkeeping leak: after Stop each frame read was
// either delivered or dropped.
TEST_F(FrameStreamTest, DeliversCompleteFramesInCameraOrder) {
  Start();
  ASSERT_TRUE(host_.WaitDelivered(300));
  EXPECT_EQ(stream_.StopThreads(), StopOutcome::kJoined);

  const std::vector<uint32_t> delivered = host_.Delivered();
  EXPECT_EQ(host_.Torn(), 0);
  for (size_t i = 1; i < delivered.size(); ++i) {
    ASSERT_LT(delivered[i - 1], delivered[i]) << "at " << i;
  }
  EXPECT_EQ(stats_->framesRead.load(), delivered.size() + stats_->framesDropped.load());
  EXPECT_EQ(static_cast<uint64_t>(stats_->frameCounter.load()), stats_->framesRead.load());
}

// Catches a reader that does not alternate the areas after complete reads,
// or that switches area (or moves to another pool entry, or counts a frame)
// after a short read.
TEST_F(FrameStreamTest, ShortReadRetriesSameAreaIntoSameEntry) {
  host_.HoldDelivery(true);  // keep the pool from being recycled during the script
  reader_->Script({kFrameBytes, 100, 0, kFrameBytes, kFrameBytes});
  Start();
  ASSERT_TRUE(reader_->WaitReads(5));
  const std::vector<ScriptedReader::Read> reads = reader_->Reads();
  host_.HoldDelivery(false);
  stream_.StopThreads();

  struct Expect {
    int area;
    int sameBufferAs;  // index of an earlier read with the same destination, or -1
  };
  const Expect expected[5] = {{0, -1}, {1, -1}, {1, 1}, {1, 1}, {0, -1}};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(reads[i].area, expected[i].area);
    if (expected[i].sameBufferAs >= 0) {
      EXPECT_EQ(reads[i].destination, reads[expected[i].sameBufferAs].destination);
    }
  }
  EXPECT_NE(reads[4].destination, reads[3].destination);
  EXPECT_GE(clock_->CountSleeps(8), 2u);
}

// Catches a reader that keeps the frame exposed with the old settings, does
// not switch area after it, or reads it into a pool buffer.
TEST_F(FrameStreamTest, AppliedChangesDiscardExactlyOneFrame) {
  host_.ReportChanges(1);
  Start();
  ASSERT_TRUE(reader_->WaitReads(3));
  ASSERT_TRUE(host_.WaitDelivered(2));
  const std::vector<ScriptedReader::Read> reads = reader_->Reads();
  const std::set<const uint8_t*> pool = PoolBuffers();
  stream_.StopThreads();

  EXPECT_EQ(reads[0].area, 0);
  EXPECT_EQ(pool.count(reads[0].destination), 0u) << "discarded frame read into the pool";
  EXPECT_EQ(reads[1].area, 1);
  EXPECT_EQ(reads[2].area, 0);
  EXPECT_EQ(stats_->framesDiscarded.load(), 1u);
  EXPECT_EQ(host_.Delivered().front(), 1u) << "the discarded frame 0 was delivered";
  EXPECT_EQ(clock_->CountSleeps(28), 1u);
}

// Fault caught: a stream starved by continuous setting changes. Changes sent
// while a frame is being thrown away must join that frame's batch and be
// followed by a delivered frame, not by a second discard (with changes
// arriving before every frame, no frame would ever be delivered). Each pass of the reader asks
// the host once; `changes` is how many passes in a row find changes to send.
TEST_F(FrameStreamTest, AtMostOneFrameIsThrownAwayPerBatchOfChanges) {
  constexpr size_t kReads = 6;
  struct Case {
    const char* name;
    int changes;
    const char* reads;  // per read in camera order: D thrown away, F delivered
  };
  const Case cases[] = {
      {"one batch", 1, "DFFFFF"},
      {"changes during the discard", 2, "DFFFFF"},
      {"changes again after the frame", 3, "DFDFFF"},
      {"changes before every pass", 1 << 30, "DFDFDF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedFastClock clock;
    auto stats = std::make_shared<StreamStats>();
    RecordingHost host(kFrameBytes);
    auto reader = std::make_shared<ScriptedReader>(kFrameBytes);
    FrameStream stream(&host, stats);
    host.ReportChanges(c.changes);
    reader->HoldAfter(kReads);
    stream.AllocatePool(kFrameBytes);
    stream.StartThreads(reader, StreamGeometry{kFrameBytes, kFrameBytes});

    ASSERT_TRUE(reader->WaitHeld());
    const uint64_t discarded = stats->framesDiscarded.load();
    ASSERT_LE(discarded, kReads);
    ASSERT_TRUE(host.WaitDelivered(kReads - discarded));
    // Sequence numbers are stamped per read, so the delivered ones name the
    // reads that were not thrown away.
    std::string seen(kReads, 'D');
    for (uint32_t sequence : host.Delivered()) {
      if (sequence < kReads) seen[sequence] = 'F';
    }
    EXPECT_EQ(seen, c.reads);
    EXPECT_EQ(clock->CountSleeps(28), discarded) << "one pause after each frame thrown away";
    reader->Unblock();
    stream.StopThreads();
  }
}

// Catches an unbounded queue or a blocked reader: with the dispatcher held,
// the pool fills and further frames go to scratch and are counted as dropped.
TEST_F(FrameStreamTest, FullPoolReadsIntoScratchAndDrops) {
  host_.HoldDelivery(true);
  Start();
  ASSERT_TRUE(host_.WaitDelivered(1));  // entry 0 is being delivered
  // Nine reads recorded: the first eight have been counted.
  ASSERT_TRUE(reader_->WaitReads(9));
  const std::vector<ScriptedReader::Read> reads = reader_->Reads();
  const std::set<const uint8_t*> pool = PoolBuffers();
  EXPECT_EQ(stream_.Pool()->QueuedCount(), kFramePoolSize - 1);
  for (int i = 0; i < kFramePoolSize; ++i) EXPECT_TRUE(stream_.Pool()->InUse(i));
  for (int i = kFramePoolSize; i < 8; ++i) EXPECT_EQ(pool.count(reads[i].destination), 0u) << i;
  EXPECT_GE(stats_->framesDropped.load(), 3u);

  host_.HoldDelivery(false);
  stream_.StopThreads();
  EXPECT_EQ(stats_->framesRead.load(), host_.Delivered().size() + stats_->framesDropped.load());
}

// Catches a pause that lets the reader go on reading, a resume that does not
// wake it, and a stop that hangs on a paused reader.
TEST_F(FrameStreamTest, PauseParksReaderBetweenFrames) {
  Start();
  ASSERT_TRUE(reader_->WaitReads(3));
  stream_.Pause();
  ASSERT_TRUE(stream_.WaitReaderParked(30000));
  const size_t readsWhenParked = reader_->Reads().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(reader_->Reads().size(), readsWhenParked);

  stream_.Resume();
  ASSERT_TRUE(reader_->WaitReads(readsWhenParked + 3));
  stream_.Pause();
  ASSERT_TRUE(stream_.WaitReaderParked(30000));
  EXPECT_EQ(stream_.StopThreads(), StopOutcome::kJoined);
  EXPECT_FALSE(stream_.ThreadsExist());
}

// Catches a Stop that waits for ever on a transfer that never completes, a
// reader left behind that frees or touches what the driver frees, and a
// stream that cannot start again afterwards.
TEST_F(FrameStreamTest, StopLeavesStuckReaderBehindAndStartsAgain) {
  stream_.SetReaderStopBound(100);
  Start();
  ASSERT_TRUE(reader_->WaitReads(2));
  reader_->Block();
  ASSERT_TRUE(reader_->WaitInTransfer());
  EXPECT_EQ(stream_.StopThreads(), StopOutcome::kReaderLeftBehind);
  EXPECT_EQ(stream_.ReadersLeftBehind(), 1u);
  stream_.FreePool();
  const uint64_t readAtStop = stats_->framesRead.load();

  // A new stream on a new source runs while the old reader is still stuck.
  auto fresh = std::make_shared<ScriptedReader>(kFrameBytes);
  stream_.AllocatePool(kFrameBytes);
  stream_.StartThreads(fresh, StreamGeometry{kFrameBytes, kFrameBytes});
  const size_t before = host_.Delivered().size();
  ASSERT_TRUE(host_.WaitDelivered(before + 5));

  reader_->Unblock();  // the old transfer returns; its frame must not count
  EXPECT_TRUE(WaitUntil([&] { return stream_.ReadersLeftBehind() == 0; }));
  EXPECT_EQ(stream_.StopThreads(), StopOutcome::kJoined);
  EXPECT_GE(stats_->framesRead.load(), readAtStop + 5);
  EXPECT_EQ(host_.Torn(), 0);
}

// Catches leaving the reader behind while it is inside a call into the driver
// (the driver's objects would be freed under it): Stop waits that call out.
TEST_F(FrameStreamTest, StopWaitsOutReaderInsideDriverCall) {
  stream_.SetReaderStopBound(20);
  Start();
  ASSERT_TRUE(reader_->WaitReads(1));
  host_.SetApplyDelay(std::chrono::milliseconds(200));
  ASSERT_TRUE(host_.WaitInApply());
  EXPECT_EQ(stream_.StopThreads(), StopOutcome::kJoined);
  EXPECT_FALSE(host_.InApply());
}

}  // namespace
}  // namespace varnel
