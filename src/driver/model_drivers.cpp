#include "driver/model_drivers.h"

#include <memory>

#include "device/hwh8_sensor.h"
#include "device/hxa1_sensor.h"
#include "device/hxb2_sensor.h"
#include "device/hxc3_sensor.h"
#include "device/hxe5_sensor.h"
#include "device/hyd4_sensor.h"
#include "device/hzf6_sensor.h"
#include "device/hzg7_sensor.h"
#include "device/r2t_sensor.h"

namespace varnel {

// Each model driver shuts the stream down in its own destructor: once the
// base destructor runs, the object is no longer a model driver, and threads
// still calling into it would see it change under them.
#define VARNEL_DEFINE_MODEL_DRIVER(ClassName, SensorClass, code)            \
  ClassName::ClassName() : CameraDriver(std::make_unique<SensorClass>()) {} \
  ClassName::~ClassName() { Shutdown(); }                                   \
  ModelCode ClassName::GetModelCode() const { return code; }

VARNEL_DEFINE_MODEL_DRIVER(Hwh8Driver, Hwh8Sensor, kModelHWH8)
VARNEL_DEFINE_MODEL_DRIVER(Hxa1Driver, Hxa1Sensor, kModelHXA1)
VARNEL_DEFINE_MODEL_DRIVER(Hxb2Driver, Hxb2Sensor, kModelHXB2)
VARNEL_DEFINE_MODEL_DRIVER(Hxe5Driver, Hxe5Sensor, kModelHXE5)
VARNEL_DEFINE_MODEL_DRIVER(Hxc3Driver, Hxc3Sensor, kModelHXC3)
VARNEL_DEFINE_MODEL_DRIVER(R2tDriver, R2tSensor, kModelR2T)
VARNEL_DEFINE_MODEL_DRIVER(Hyd4Driver, Hyd4Sensor, kModelHYD4)
VARNEL_DEFINE_MODEL_DRIVER(Hzf6Driver, Hzf6Sensor, kModelHZF6)
VARNEL_DEFINE_MODEL_DRIVER(Hzg7Driver, Hzg7Sensor, kModelHZG7)

#undef VARNEL_DEFINE_MODEL_DRIVER

}  // namespace varnel
