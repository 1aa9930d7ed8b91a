// The Linux shared library, loaded as an application loads it: every name of
// the interface resolves, and the library answers through the loaded copy.
#ifndef _WIN32

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "export_names.h"

namespace {

const char* const kPosixNames[] = {
    "VarnelPosix_CreateMessageQueue",
    "VarnelPosix_DestroyMessageQueue",
    "VarnelPosix_ReadMessage",
    "VarnelPosix_PendingMessages",
};

class SharedLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = dlopen(VARNEL_SHARED_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (library_ != nullptr) dlclose(library_);
  }
  void* library_ = nullptr;
};

// Fault caught: an export missing from the shared object (left out of the
// version script, misspelt, or given C++ linkage).
TEST_F(SharedLibraryTest, EveryInterfaceNameResolves) {
  for (const char* name : varnel::test::kExportNames) {
    EXPECT_NE(dlsym(library_, name), nullptr) << name;
  }
  for (const char* name : kPosixNames) EXPECT_NE(dlsym(library_, name), nullptr) << name;
}

// Fault caught: internal symbols leaking out of the shared object, where they
// could clash with an application's own.
TEST_F(SharedLibraryTest, InternalsAreHidden) {
  // Names as the compiler mangles them (checked against the object files).
  const char* internals[] = {"_ZN6varnel8RegistryEv", "_ZN6varnel17PostWindowMessageEPvjml",
                             "_ZN6varnel14HandleRegistry10MakeHandleEv"};
  for (const char* name : internals) EXPECT_EQ(dlsym(library_, name), nullptr) << name;
}

// Fault caught: a loaded copy whose exports do not reach a working library.
TEST_F(SharedLibraryTest, LoadedCopyWorks) {
  using Version = uint32_t (*)();
  using Initialize = uintptr_t (*)(void*);
  using HandleCall = int (*)(uintptr_t);
  using HandleIntCall = int (*)(uintptr_t, int);
  auto version = reinterpret_cast<Version>(dlsym(library_, "Varnel_GetDllVersion"));
  auto initialize = reinterpret_cast<Initialize>(dlsym(library_, "Varnel_Initialize"));
  auto lastError = reinterpret_cast<HandleCall>(dlsym(library_, "Varnel_GetLastError"));
  auto release = reinterpret_cast<HandleCall>(dlsym(library_, "Varnel_Release"));
  auto setColorMode = reinterpret_cast<HandleIntCall>(dlsym(library_, "Varnel_SetColorMode"));
  ASSERT_TRUE(version && initialize && lastError && release && setColorMode);
  EXPECT_EQ(version(), 0x00C90502u);
  const uintptr_t handle = initialize(nullptr);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(lastError(handle), 0);
  EXPECT_EQ(setColorMode(handle, 20), 0);
  EXPECT_EQ(lastError(handle), 9);
  EXPECT_EQ(release(handle), 1);
  EXPECT_EQ(release(handle), 0);
}

}  // namespace

#endif  // _WIN32
