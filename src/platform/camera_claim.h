// One camera, one user: the claim an instance holds on a camera drive while
// it uses the camera.
//
// A camera head has one set of registers and one stream. A second program
// (or a second handle in the same program) that started it while another
// streamed would reprogram it under the first, which would then read frames
// of another size and depth. So the sensor device claims the drive for as
// long as it holds the camera volume open (from a start to the stop, and
// around a register request made while not streaming), and a second claim on
// the same drive fails until the first is given up. A claim is given up when
// its object is destroyed, and by the system when the process ends, however
// it ends.
//
// Linux: an open-file-description lock on the drive's volume (which every
// process sees, and two handles in one process as well), and a table of the
// drives claimed in this process for the in-process devices, which have no
// file to lock. Windows: a named object per drive letter in the session,
// which every process of the session (and Wine's processes of one prefix)
// sees.
#pragma once

#include <memory>

namespace varnel {

class CameraClaim {
 public:
  virtual ~CameraClaim() = default;
};

// Claims the camera of drive `letter` ('A'..'Z'). Null when another user
// holds it. A drive whose volume cannot be opened is not refused here: the
// open that follows fails on its own.
std::unique_ptr<CameraClaim> ClaimCamera(char letter);

}  // namespace varnel
