// The frame pipeline per colour class with the filters off and on, timed
// without Google Benchmark so that the same program builds for 32-bit Windows
// (run under Wine) and for Linux; bench/run-pipeline-timing.sh runs both
// builds in turn and compares them.
//
// Usage: varnel_pipeline_timing [--repetitions N] [--min-time SECONDS]
//                               [--all-sizes]
// Prints one line per repetition of each case:
//   <case> <repetition> <milliseconds per frame> <sata_x> <wall milliseconds>
// where a case is named like the varnel_bench rows
// (BM_FramePipeline/class2/filters_on/2048/1536), the time is the processor
// time of the process per frame (as varnel_bench counts it), averaged over as
// many frames as fill the minimum processor time, sata_x is how many times
// faster than a 550 MB/s link delivers the raw frame at that time, and the
// wall time per frame follows for reference. Processor time, because the
// machines this runs on are shared: the wall time grows with the load of
// other programs, which falls differently on the two builds.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "imaging/cpu_features.h"
#include "platform/process_time.h"
#include "pipeline_frames.h"

namespace {

using namespace varnel;
using namespace varnel::bench;

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
  int repetitions = 5;
  double minTime = 0.25;
  bool allSizes = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repetitions") == 0 && i + 1 < argc) {
      repetitions = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--min-time") == 0 && i + 1 < argc) {
      minTime = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--all-sizes") == 0) {
      allSizes = true;
    } else {
      std::fprintf(stderr, "usage: %s [--repetitions N] [--min-time SECONDS] [--all-sizes]\n",
                   argv[0]);
      return 2;
    }
  }
  CpuFeatures cpu{};
  DetectCpuFeatures(&cpu);
  const std::vector<std::pair<int, int>> sizes =
      allSizes ? kModelSizes : std::vector<std::pair<int, int>>{{2048, 1536}};
  for (int colorClass = 0; colorClass <= 5; ++colorClass) {
    for (Filters filters : {Filters::kOff, Filters::kOn}) {
      for (const auto& [w, h] : sizes) {
        const std::string name = "BM_FramePipeline/class" + std::to_string(colorClass) +
                                 (filters == Filters::kOn ? "/filters_on/" : "/filters_off/") +
                                 std::to_string(w) + "/" + std::to_string(h);
        PipelineFrame frame(colorClass, w, h);
        FilterSettings settings = SettingsFor(filters);
        frame.Run(settings, cpu);  // first touch of every image
        for (int rep = 0; rep < repetitions; ++rep) {
          int frames = 0;
          const double start = ProcessCpuSeconds();
          const double wallStart = Seconds();
          double elapsed = 0;
          do {
            if (frame.Run(settings, cpu) == nullptr) {
              std::fprintf(stderr, "%s: the pipeline gave no frame\n", name.c_str());
              return 1;
            }
            ++frames;
            elapsed = ProcessCpuSeconds() - start;
          } while (elapsed < minTime);
          const double perFrame = elapsed / frames;
          const double wallPerFrame = (Seconds() - wallStart) / frames;
          std::printf("%s %d %.4f %.3f %.4f\n", name.c_str(), rep, perFrame * 1e3,
                      frame.RawBytes() / kSataBytesPerSecond / perFrame, wallPerFrame * 1e3);
          std::fflush(stdout);
        }
      }
    }
  }
  return 0;
}
