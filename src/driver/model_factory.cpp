#include "driver/model_factory.h"

#include <new>

#include "driver/model_drivers.h"

namespace varnel {

ModelCode ModelCodeAt(int index) {
  if (index < 0 || index >= kModelCount) return kNoModelCode;
  return kModelList[index];
}

std::unique_ptr<CameraDriver> CreateCameraDriver(ModelCode code) {
  try {
    switch (code) {
      case kModelR2T:
        return std::make_unique<R2tDriver>();
      case kModelHXA1:
        return std::make_unique<Hxa1Driver>();
      case kModelHXB2:
        return std::make_unique<Hxb2Driver>();
      case kModelHXC3:
        return std::make_unique<Hxc3Driver>();
      case kModelHYD4:
        return std::make_unique<Hyd4Driver>();
      case kModelHXE5:
        return std::make_unique<Hxe5Driver>();
      case kModelHZF6:
        return std::make_unique<Hzf6Driver>();
      case kModelHZG7:
        return std::make_unique<Hzg7Driver>();
      case kModelHWH8:
        return std::make_unique<Hwh8Driver>();
      default:
        return nullptr;
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace varnel
