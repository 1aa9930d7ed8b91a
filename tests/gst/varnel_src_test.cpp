// The varnelsrc element end to end: GStreamer pipelines over an in-process
// virtual camera head, the element calling the library's C interface.
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/virtual_head.h"
#include "support/settings_store_guard.h"
#include "support/wait_until.h"
#include "varnel.h"
#include "varnel_src.h"

namespace varnel::testing {
namespace {

constexpr char16_t kLetter = u'V';

void EnsureGst() {
  static const bool ready = [] {
    gst_init(nullptr, nullptr);
    return gst_varnel_register_static_plugin() == TRUE;
  }();
  ASSERT_TRUE(ready);
}

// A virtual HXA1 head at V: showing a still scene (no frame stamp, no moving
// mark), so every frame is the same picture, on a settings store of its own.
class HeadFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureGst();
    store_.Clear();
    head_ = std::make_shared<VirtualHead>(kModelHXA1);
    SceneOptions scene = head_->Scene();
    scene.stampFrameNumber = false;
    scene.movingMark = false;
    head_->SetScene(scene);
    ASSERT_TRUE(head_->AttachTo(kLetter));
  }
  void TearDown() override { head_->Detach(); }

  // The picture the library gives for `mode` at quarter size, through the C
  // interface alone: a snapshot, then Varnel_GetImage.
  std::vector<uint8_t> Reference(int mode, int* width, int* height) {
    const CameraHandle h = Varnel_Initialize(nullptr);
    char names[10][256];
    std::vector<uint8_t> picture;
    if (Varnel_EnumDevice(h, &names[0][0]) == 1 && Varnel_SetDeviceNumber(h, 0) == 1 &&
        Varnel_SetCameraType(h, 1) == 1 && Varnel_SetSubSample(h, 2) == 1 &&
        Varnel_SetColorMode(h, mode) == 1 && Varnel_SnapShot(h, nullptr, 0, 1) == 1) {
      *width = Varnel_Width(h) / 4;
      *height = Varnel_Height(h) / 4;
      picture.resize(64u << 20);
      if (Varnel_GetImage(h, picture.data(), static_cast<int>(picture.size()), 1) != 1) {
        picture.clear();
      }
    }
    Varnel_Release(h);
    return picture;
  }

  SettingsStoreGuard store_;
  std::shared_ptr<VirtualHead> head_;
};

struct HarnessDeleter {
  void operator()(GstHarness* h) const { gst_harness_teardown(h); }
};
using Harness = std::unique_ptr<GstHarness, HarnessDeleter>;

Harness StartSource(const char* properties, const char* sinkCaps) {
  GstHarness* h = gst_harness_new_parse((std::string("varnelsrc ") + properties).c_str());
  gst_harness_use_systemclock(h);
  if (sinkCaps != nullptr) gst_harness_set_sink_caps_str(h, sinkCaps);
  gst_harness_play(h);
  return Harness(h);
}

std::string CapsText(GstHarness* h) {
  GstCaps* caps = gst_pad_get_current_caps(h->sinkpad);
  if (caps == nullptr) return "";
  gchar* text = gst_caps_to_string(caps);
  std::string result = text;
  g_free(text);
  gst_caps_unref(caps);
  return result;
}

uint64_t Counter(GstHarness* h, const char* name) {
  guint64 value = 0;
  GstElement* source = gst_harness_find_element(h, "varnelsrc");
  g_object_get(source, name, &value, nullptr);
  gst_object_unref(source);
  return value;
}

// Fault caught: a format negotiated in one mode while the library was set to
// another, deep samples handed on without scaling to GStreamer's 16-bit
// range, a mosaic announced with the wrong colour filter pattern, or rows
// copied with the wrong stride. Each case negotiates (by the mode property
// or by what downstream accepts) and compares the element's second frame with
// the library's own picture of the same still scene.
TEST_F(HeadFixture, EachModeNegotiatesItsFormatAndDeliversTheLibrarysPicture) {
  struct Case {
    const char* name;
    const char* properties;
    const char* sinkCaps;  // null: anything
    int libraryMode;
    const char* caps;  // expected in the negotiated caps
    int shift;         // deep samples: left shift to 16 bits
    bool opaque;       // every fourth 16-bit sample is 0xFFFF
  };
  const Case cases[] = {
      {"auto picks colour", "mode=auto", nullptr, 24, "format=(string)BGR,", 0, false},
      {"auto for BGRx downstream", "", "video/x-raw,format=BGRx", 32, "format=(string)BGRx", 0,
       false},
      {"auto for GRAY8 downstream", "", "video/x-raw,format=GRAY8", 8, "format=(string)GRAY8", 0,
       false},
      {"auto for GRAY16 downstream", "", "video/x-raw,format=GRAY16_LE", 16,
       "format=(string)GRAY16_LE", 0, false},
      {"gray10 scaled", "mode=gray10", nullptr, 10, "format=(string)GRAY16_LE", 6, false},
      {"bgra64", "mode=bgra64", nullptr, 64, "format=(string)BGRA64_LE", 0, true},
      {"bgra64-12 scaled", "mode=bgra64-12", nullptr, 768, "format=(string)BGRA64_LE", 4, true},
      {"bayer mosaic", "mode=bayer", nullptr, -1, "video/x-bayer, format=(string)grbg", 0, false},
      {"bayer by downstream", "", "video/x-bayer", -1, "video/x-bayer", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int width = 0, height = 0;
    std::vector<uint8_t> reference;
    if (c.libraryMode > 0) {
      reference = Reference(c.libraryMode, &width, &height);
    } else {
      // The raw mosaic: 8-bit monochrome without gray processing.
      const CameraHandle h = Varnel_Initialize(nullptr);
      char names[10][256];
      Varnel_EnumDevice(h, &names[0][0]);
      Varnel_SetDeviceNumber(h, 0);
      Varnel_SetCameraType(h, 1);
      const int mode = Varnel_GetGrayMode(h, nullptr);
      Varnel_SetGrayMode(h, 0);
      const int gains[4] = {Varnel_GetGrayGainR(h, nullptr), Varnel_GetGrayGainG1(h, nullptr),
                            Varnel_GetGrayGainG2(h, nullptr), Varnel_GetGrayGainB(h, nullptr)};
      Varnel_SetGrayGainR(h, 128), Varnel_SetGrayGainG1(h, 128);
      Varnel_SetGrayGainG2(h, 128), Varnel_SetGrayGainB(h, 128);
      Varnel_SetSubSample(h, 2);
      Varnel_SetColorMode(h, 8);
      if (Varnel_SnapShot(h, nullptr, 0, 1) == 1) {
        width = Varnel_Width(h) / 4, height = Varnel_Height(h) / 4;
        reference.resize(static_cast<size_t>((width + 3) & ~3) * height);
        Varnel_GetImage(h, reference.data(), static_cast<int>(reference.size()), 1);
      }
      Varnel_SetGrayMode(h, mode);
      Varnel_SetGrayGainR(h, gains[0]), Varnel_SetGrayGainG1(h, gains[1]);
      Varnel_SetGrayGainG2(h, gains[2]), Varnel_SetGrayGainB(h, gains[3]);
      Varnel_Release(h);
    }
    ASSERT_FALSE(reference.empty());

    Harness h =
        StartSource((std::string("device=V: subsample=2 ") + c.properties).c_str(), c.sinkCaps);
    GstBuffer* first = gst_harness_pull(h.get());
    GstBuffer* second = gst_harness_pull(h.get());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    const std::string caps = CapsText(h.get());
    EXPECT_NE(caps.find(c.caps), std::string::npos) << caps;
    EXPECT_NE(caps.find("width=(int)" + std::to_string(width)), std::string::npos) << caps;
    EXPECT_NE(caps.find("height=(int)" + std::to_string(height)), std::string::npos) << caps;

    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(second, &map, GST_MAP_READ));
    ASSERT_LE(map.size, reference.size());
    size_t mismatches = 0;
    if (c.shift == 0 && !c.opaque) {
      mismatches = std::memcmp(map.data, reference.data(), map.size) != 0;
    } else {
      const auto* got = reinterpret_cast<const uint16_t*>(map.data);
      const auto* want = reinterpret_cast<const uint16_t*>(reference.data());
      for (size_t i = 0; i < map.size / 2; ++i) {
        const uint16_t expected =
            c.opaque && i % 4 == 3 ? 0xFFFF : static_cast<uint16_t>(want[i] << c.shift);
        mismatches += got[i] != expected;
      }
    }
    EXPECT_EQ(mismatches, 0u);
    gst_buffer_unmap(second, &map);
    gst_buffer_unref(first);
    gst_buffer_unref(second);
  }
}

// Fault caught: buffers stamped with a fixed or stream-relative time instead
// of their arrival on the pipeline clock, or time running backwards.
TEST_F(HeadFixture, TimestampsFollowThePipelineClockAndIncrease) {
  Harness h = StartSource("device=V: subsample=2", nullptr);
  GstClockTime previous = GST_CLOCK_TIME_NONE;
  for (int i = 0; i < 5; ++i) {
    GstBuffer* buffer = gst_harness_pull(h.get());
    ASSERT_NE(buffer, nullptr);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(pts));
    if (GST_CLOCK_TIME_IS_VALID(previous)) {
      EXPECT_GT(pts, previous) << "frame " << i;
    }
    // Not later than now on the element's clock.
    GstClock* clock = gst_element_get_clock(h->element);
    ASSERT_NE(clock, nullptr);
    EXPECT_LE(pts, gst_clock_get_time(clock) - gst_element_get_base_time(h->element));
    gst_object_unref(clock);
    previous = pts;
    gst_buffer_unref(buffer);
  }
  EXPECT_GE(Counter(h.get(), "frames-read"), 5u);
}

// Fault caught: frames the element could not take in time disappearing
// silently (no gap, no discontinuity, no count), or a stale frame pushed twice.
TEST_F(HeadFixture, FramesMissedWhileDownstreamStallsShowAsAGap) {
  Harness h = StartSource("device=V: subsample=2", nullptr);
  GstBuffer* first = gst_harness_pull(h.get());
  ASSERT_NE(first, nullptr);
  gst_buffer_unref(first);
  // Downstream stops taking buffers: the next push blocks in a probe while
  // the camera goes on sending frames.
  struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    bool blocked = false;
  } gate;
  GstPad* pad = gst_element_get_static_pad(h->element, "src");
  const gulong probe = gst_pad_add_probe(
      pad, GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo*, gpointer data) -> GstPadProbeReturn {
        auto* g = static_cast<Gate*>(data);
        std::unique_lock<std::mutex> lock(g->mutex);
        g->blocked = true;
        g->changed.notify_all();
        g->changed.wait(lock, [g] { return g->open; });
        return GST_PAD_PROBE_OK;
      },
      &gate, nullptr);
  {
    std::unique_lock<std::mutex> lock(gate.mutex);
    ASSERT_TRUE(gate.changed.wait_for(lock, kStallBound, [&] { return gate.blocked; }));
  }
  const uint32_t blockedAt = head_->LastDeliveredFrame();
  ASSERT_TRUE(WaitUntil([&] { return head_->LastDeliveredFrame() >= blockedAt + 4; }));
  {
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.open = true;
  }
  gate.changed.notify_all();
  gst_pad_remove_probe(pad, probe);
  gst_object_unref(pad);

  // Drain the buffers pushed so far, then the events, and find the buffer
  // that came after the stall.
  std::vector<GstBuffer*> buffers;
  for (int i = 0; i < 3; ++i) buffers.push_back(gst_harness_pull(h.get()));
  bool gap = false;
  while (GstEvent* event = gst_harness_try_pull_event(h.get())) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_GAP) gap = true;
    gst_event_unref(event);
  }
  bool discont = false;
  for (size_t i = 1; i < buffers.size(); ++i) {
    ASSERT_NE(buffers[i], nullptr);
    discont = discont || GST_BUFFER_FLAG_IS_SET(buffers[i], GST_BUFFER_FLAG_DISCONT);
  }
  for (GstBuffer* b : buffers) gst_buffer_unref(b);
  EXPECT_TRUE(gap);
  EXPECT_TRUE(discont);
  const uint64_t dropped = Counter(h.get(), "frames-dropped");
  EXPECT_GE(dropped, 2u);
  EXPECT_GE(Counter(h.get(), "frames-read"), 1 + 3 + dropped);
}

// Fault caught: a triggered source that streams on its own, misses a
// trigger, or pushes a frame twice for one trigger: each trigger (the
// element's action signal, or the camera's input) gives exactly one buffer.
TEST_F(HeadFixture, EachTriggerGivesOneFrame) {
  struct Case {
    const char* name;
    const char* properties;
    bool software;
  };
  const Case cases[] = {
      {"software", "device=V: subsample=2 trigger=software", true},
      {"external", "device=V: subsample=2 trigger=external", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h = StartSource(c.properties, nullptr);
    GstElement* source = gst_harness_find_element(h.get(), "varnelsrc");
    for (guint n = 1; n <= 3; ++n) {
      if (c.software) {
        g_signal_emit_by_name(source, "trigger");
      } else {
        // The head takes a trigger once the library has armed it.
        ASSERT_TRUE(WaitUntil([&] { return head_->Trigger(); }));
      }
      GstBuffer* buffer = gst_harness_pull(h.get());
      ASSERT_NE(buffer, nullptr);
      gst_buffer_unref(buffer);
      EXPECT_EQ(gst_harness_buffers_received(h.get()), n);
    }
    EXPECT_EQ(Counter(h.get(), "frames-read"), 3u);
    EXPECT_EQ(Counter(h.get(), "frames-dropped"), 0u);
    gst_object_unref(source);
  }
}

// Fault caught: a camera that is missing, refuses the mode, or is unplugged
// mid-stream ending the stream silently, hanging, or with an error that does
// not say what happened.
TEST_F(HeadFixture, FailuresEndTheStreamWithAnErrorThatSaysWhat) {
  struct Case {
    const char* name;
    const char* pipeline;
    bool unplug;  // remove the head once frames flow
    const char* words;
  };
  const Case cases[] = {
      {"unknown drive", "varnelsrc device=Q: ! fakesink", false, "No camera drive 'Q:'"},
      {"drive index out of range", "varnelsrc device=3 ! fakesink", false, "No camera drive '3'"},
      {"refused mode", "varnelsrc device=V: mode=bgr48 ! fakesink", false,
       "has no GStreamer format"},
      {"downstream takes no format",
       "varnelsrc device=V: mode=gray8 ! video/x-raw,format=BGR ! "
       "fakesink",
       false, "Downstream accepts none"},
      {"head unplugged", "varnelsrc device=V: subsample=2 ! fakesink name=sink signal-handoffs=1",
       true, "unplugged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(c.pipeline, &error);
    ASSERT_NE(pipeline, nullptr) << (error ? error->message : "");
    std::atomic<int> frames{0};
    if (GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink")) {
      g_signal_connect(sink, "handoff",
                       G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer count) {
                         ++*static_cast<std::atomic<int>*>(count);
                       }),
                       &frames);
      gst_object_unref(sink);
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    if (c.unplug) {
      ASSERT_TRUE(WaitUntil([&] { return frames.load() >= 2; }));
      head_->Remove();
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, GST_SECOND * 120, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
    ASSERT_NE(message, nullptr);
    ASSERT_EQ(GST_MESSAGE_TYPE(message), GST_MESSAGE_ERROR);
    GError* failure = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &failure, &debug);
    const std::string text = std::string(failure->message) + " | " + (debug ? debug : "");
    EXPECT_NE(text.find(c.words), std::string::npos) << text;
    g_error_free(failure);
    g_free(debug);
    gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    if (c.unplug) {
      head_->Detach();
      head_ = std::make_shared<VirtualHead>(kModelHXA1);
      ASSERT_TRUE(head_->AttachTo(kLetter));
    }
  }
}

}  // namespace
}  // namespace varnel::testing
