#include "device/sensor_factory.h"

#include <new>

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

namespace {

template <typename Sensor>
std::unique_ptr<SensorDevice> Make() {
  return std::unique_ptr<SensorDevice>(new (std::nothrow) Sensor());
}

}  // namespace

std::unique_ptr<SensorDevice> CreateSensorDevice(ModelCode code) {
  switch (code) {
    case kModelR2T:
      return Make<R2tSensor>();
    case kModelHXA1:
      return Make<Hxa1Sensor>();
    case kModelHXB2:
      return Make<Hxb2Sensor>();
    case kModelHXC3:
      return Make<Hxc3Sensor>();
    case kModelHYD4:
      return Make<Hyd4Sensor>();
    case kModelHXE5:
      return Make<Hxe5Sensor>();
    case kModelHZF6:
      return Make<Hzf6Sensor>();
    case kModelHZG7:
      return Make<Hzg7Sensor>();
    case kModelHWH8:
      return Make<Hwh8Sensor>();
    default:
      return nullptr;
  }
}

}  // namespace varnel
