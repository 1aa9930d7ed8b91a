// The engine's settings change on application threads while the driver's
// dispatcher thread converts frames. Run under ThreadSanitizer this shows any
// unguarded access; the assertions show that no frame mixes a gain that was
// never set.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "engine/white_balance.h"
#include "engine_test_util.h"

namespace varnel {
namespace {

using enginetest::MakeColorEngine;
using enginetest::PixelAt;
using enginetest::Submit;

TEST(EngineThreads, GainsAndAdjustmentsChangeWhileFramesAreProcessed) {
  ColorConverter probe;
  for (bool vector : {false, true}) {
    if (vector && !probe.UsesVectorForms()) continue;
    const int w = 32, h = 16;
    auto e = MakeColorEngine(w, h, vector);
    const std::vector<uint8_t> frame(static_cast<size_t>(w) * h, 200);
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};

    std::thread setter([&] {
      for (int i = 0; !stop.load(); ++i, rounds.fetch_add(1)) {
        const int gain = (i & 1) ? 64 : 128;  // x0.5 or x1
        e->SetRedGain(gain);
        e->SetGreenGain(gain);
        e->SetBlueGain(gain);
        e->SetBayerPhase(i & 3);
        e->SetDefectCorrection((i & 2) != 0, 200);
        if (vector) e->SetBrightness((i & 4) ? 20 : 0);
        (void)e->GetRedGain();
        (void)e->GetContrast();
      }
    });

    // Each channel of an interior pixel is the uniform 200 at gain x1 or
    // x0.5, plus 20 when the brightness was on.
    const std::set<int> allowed =
        vector ? std::set<int>{200, 100, 220, 120} : std::set<int>{200, 100};
    // Frames run until the setter has gone round many times during them.
    for (int n = 0; n < 300 || rounds.load() < 2000; ++n) {
      ASSERT_TRUE(Submit(*e, frame));
      for (int x : {2, 9, w - 3}) {
        const auto p = PixelAt(e->OutputBuffer(), w, x, h / 2);
        ASSERT_TRUE(allowed.count(p.r) && allowed.count(p.g) && allowed.count(p.b))
            << "frame " << n << " pixel " << p.r << "," << p.g << "," << p.b;
      }
    }
    stop = true;
    setter.join();
  }
}

TEST(EngineThreads, MeasuredGainsAreWrittenBackUnderTheLock) {
  const int w = 16, h = 8;
  auto e = MakeColorEngine(w, h, false);
  e->SetWhiteBalanceMode(kWhiteBalanceGrayWorld);
  const auto frame = enginetest::PlaneMosaic(w, h, 0, 50, 100, 200);
  std::atomic<bool> stop{false};
  std::atomic<int> seen{0};
  std::thread reader([&] {
    while (!stop.load()) {
      const int r = e->GetRedGain();
      // Only the start value and the measured one ever appear.
      if (r != 128 && r != 256) ADD_FAILURE() << "red gain " << r;
      seen.fetch_add(1);
    }
  });
  for (int n = 0; n < 200 || seen.load() < 2000; ++n) ASSERT_TRUE(Submit(*e, frame));
  stop = true;
  reader.join();
  EXPECT_EQ(e->GetRedGain(), 256);
  EXPECT_GT(seen.load(), 0);
}

}  // namespace
}  // namespace varnel
