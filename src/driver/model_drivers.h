// The nine model drivers. Each shares every operation of CameraDriver and adds
// only its constructor, which builds the model's sensor device, and its model
// code.
#pragma once

#include "driver/camera_driver.h"

namespace varnel {

#define VARNEL_DECLARE_MODEL_DRIVER(ClassName)  \
  class ClassName final : public CameraDriver { \
   public:                                      \
    ClassName();                                \
    ~ClassName() override;                      \
    ModelCode GetModelCode() const override;    \
  };

VARNEL_DECLARE_MODEL_DRIVER(Hwh8Driver)
VARNEL_DECLARE_MODEL_DRIVER(Hxa1Driver)
VARNEL_DECLARE_MODEL_DRIVER(Hxb2Driver)
VARNEL_DECLARE_MODEL_DRIVER(Hxe5Driver)
VARNEL_DECLARE_MODEL_DRIVER(Hxc3Driver)
VARNEL_DECLARE_MODEL_DRIVER(R2tDriver)
VARNEL_DECLARE_MODEL_DRIVER(Hyd4Driver)
VARNEL_DECLARE_MODEL_DRIVER(Hzf6Driver)
// Its sensor device carries the 1023-entry register shadow table.
VARNEL_DECLARE_MODEL_DRIVER(Hzg7Driver)

#undef VARNEL_DECLARE_MODEL_DRIVER

}  // namespace varnel
