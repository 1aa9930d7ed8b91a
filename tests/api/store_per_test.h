// Every test of the interface suite runs against a settings store of its own,
// empty when the test starts (see store_per_test.cpp).
#pragma once

#include "support/settings_store_guard.h"

namespace varnel::testing {

// The store of the test that is running.
SettingsStoreGuard& TestStore();

}  // namespace varnel::testing
