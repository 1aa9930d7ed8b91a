// The frame pipeline: the fixed order of conversions and filters a camera
// instance runs on every frame, from the raw image of its colour class to the
// frame image that is shown, handed out or saved.
#pragma once

#include <functional>

#include "imaging/cpu_features.h"
#include "imaging/filter_settings.h"
#include "imaging/pixel_format.h"

namespace varnel {

class DibImage;

// The instance's images. The pipeline only uses those its class needs; a
// missing (null or empty) image makes the steps that need it skip.
struct FrameImages {
  DibImage* raw8 = nullptr;   // 8-bit raw mosaic; classes 0, 2, 3 (class 0's output)
  DibImage* raw16 = nullptr;  // 16-bit raw mosaic; classes 1, 4, 5 (class 1's output)
  DibImage* bgr24 = nullptr;  // class 2, and the gray-mode-2 intermediate
  DibImage* bgr32 = nullptr;  // class 3
  DibImage* bgr48 = nullptr;  // class 4
  DibImage* bgr64 = nullptr;  // class 5
  DibImage* work = nullptr;   // copy of the frame image that sharpness reads
};

// Calls out of the pipeline. Both may be empty.
struct FramePipelineHooks {
  // Step 1: automatic exposure measures the raw image before anything else.
  std::function<void(DibImage& raw)> autoExposure;
  // After automatic white balance or automatic gray gains changed the
  // settings, so that an open filter dialog shows the new values.
  std::function<void()> refreshFilterDialog;
};

// Runs the pipeline for one frame lying in the raw image of `colorClass`.
// Reads `settings` once per step; writes back the gains measured by automatic
// white balance and automatic gray gains and clears their requests as they
// are used up. Returns the frame image of the class, or null when the class is
// unknown or its images are missing.
DibImage* RunFramePipeline(const FrameImages& images, FilterSettings& settings, int colorClass,
                           BitDepthCode bitDepth, const CpuFeatures& cpu,
                           const FramePipelineHooks& hooks = {});

// The form of the 8-bit demosaic interior the pipeline runs for these gains,
// destination and processor: scalar for a 32-bit destination or any gain above
// 200, else SSE2 when usable, else MMX when usable, else scalar.
VectorForm ChooseDemosaicForm(const CpuFeatures& cpu, int redGain, int greenGain, int blueGain,
                              int destinationBytesPerPixel);
// The form of the gray gains: SSE2 when usable, else MMX when usable, else scalar.
VectorForm ChooseGrayGainForm(const CpuFeatures& cpu);

// Rows per band of a frame image with this stride: about 96 KB, so that a
// band and its work rows stay in the second-level cache between the steps
// that run on it (an even number, at least 4).
int FramePipelineBandRows(int stride);

// Threads a frame's pipeline runs on: the calling thread and the process's
// pipeline workers (PipelinePool), one thread a core unless the environment
// variable VARNEL_PIPELINE_THREADS (1 to kFramePipelineMaxThreads, read at
// first use) or SetFramePipelineThreads (0: back to the environment's value,
// or the cores) says otherwise. 1 runs every frame on the calling thread
// alone; more split a frame into horizontal slabs of whole bands (frames too
// small for that use fewer). Every thread count gives the same frame bit for
// bit.
inline constexpr int kFramePipelineMaxThreads = 16;
int FramePipelineThreads();
void SetFramePipelineThreads(int threads);

// The demosaic interior the pipeline runs for a form ChooseDemosaicForm chose:
// the SSE2 form gives way to the AVX2 form (the same result bit for bit) where
// this build carries it and the processor and system offer AVX2.
enum class DemosaicForm { kScalar, kMmx, kSse2, kAvx2 };
DemosaicForm DemosaicFormRun(VectorForm chosen);
// "scalar", "MMX", "SSE2" or "AVX2".
const char* DemosaicFormName(DemosaicForm form);

}  // namespace varnel
