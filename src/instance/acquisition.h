// What the acquisition of a camera instance works with between a start and
// the next: the format the frame paths use, fixed when acquisition is
// prepared, whatever the application changes meanwhile.
#pragma once

#include <cstdint>

#include "imaging/pixel_format.h"

namespace varnel {

// The format a start prepared. The images and the sensor's transfer format
// (8-bit or deep samples, window) are made for it, so the frame paths use it,
// not the live settings, until the next start; a preparation that finds the
// stream running for another format restarts it.
struct AcquisitionFormat {
  int colorClass = -1;  // -1: nothing prepared yet
  BitDepthCode bitDepth = 0;
  int subSample = 0;
  // The capture window as sent to the sensor (full size, not sub-sampled).
  int hStart = 0;
  int vStart = 0;
  int width = 0;
  int height = 0;
  // The images: the window divided by the sub-sample factor.
  int imageWidth = 0;
  int imageHeight = 0;
  // The window as the sensor took it (it may clamp): the picture inside
  // each frame.
  int pictureWidth = 0;
  int pictureHeight = 0;

  bool operator==(const AcquisitionFormat&) const = default;
};

// Pauses of the single-frame start, and of the trigger worker.
inline constexpr uint32_t kCaptureStartWaitMs = 700;
inline constexpr uint32_t kSnapshotStartWaitMs = 500;
// After a failed triggered read, before the next: a head that has gone away
// must not make the worker spin.
inline constexpr uint32_t kTriggerRetryPauseMs = 20;
// How long a stop waits for the trigger worker to leave its loop (its frame
// wait is cut short by the stop; this bounds a transfer in flight).
inline constexpr uint32_t kTriggerWorkerStopBoundMs = 10000;
// How long a streamed frame that arrives after the stop began is held back
// instead of being announced (the frame path sleeps this when Idle).
inline constexpr uint32_t kIdleFramePauseMs = 1;

}  // namespace varnel
