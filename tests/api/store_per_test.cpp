// Gives each test of this program a fresh settings store before its fixture
// is built and removes it after the fixture is gone (releasing a handle saves
// settings, so the store must outlive the fixture's TearDown). Without it the
// tests would read and overwrite the user's own settings, and each test would
// see what the tests before it saved.
#include "store_per_test.h"

#include <gtest/gtest.h>

#include <memory>

namespace varnel::testing {

namespace {

std::unique_ptr<SettingsStoreGuard>& Current() {
  static std::unique_ptr<SettingsStoreGuard> guard;
  return guard;
}

class StorePerTest : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    Current() = std::make_unique<SettingsStoreGuard>();
  }
  void OnTestEnd(const ::testing::TestInfo&) override { Current().reset(); }
};

[[maybe_unused]] const bool kRegistered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new StorePerTest);
  return true;
}();

}  // namespace

SettingsStoreGuard& TestStore() {
  if (!Current()) Current() = std::make_unique<SettingsStoreGuard>();
  return *Current();
}

}  // namespace varnel::testing
