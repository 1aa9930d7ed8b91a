// The gray-gain bodies as region routines.
#include "imaging/gray_gain.h"
#include "imaging/pixel_routines.h"

namespace varnel {
namespace {

template <int (*Body)(const RegionView&, const GrayGains&)>
int RunWithGrayGains(const RegionView& view, void* user) {
  const GrayGains* gains = ParamRecord<const GrayGains>(user);
  return gains == nullptr ? 0 : Body(view, *gains);
}

}  // namespace

int GrayGainsScalarRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)extra;
  return RunWithGrayGains<GrayGainsScalar>(VARNEL_REGION_VIEW, user);
}
int GrayGainsMmxRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)extra;
  return RunWithGrayGains<GrayGainsMmx>(VARNEL_REGION_VIEW, user);
}
int GrayGainsSse2Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)extra;
  return RunWithGrayGains<GrayGainsSse2>(VARNEL_REGION_VIEW, user);
}

}  // namespace varnel
