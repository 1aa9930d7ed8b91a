// A temporary directory no other test program shares.
//
// The suites of several trees (native, AddressSanitizer, ThreadSanitizer) run
// the same tests side by side on one machine, so a fixed name in the
// temporary directory, or one drawn from an unseeded generator, is the same
// in each of them: one program removes files another is writing. The name
// here carries the process id and a random number, and the directory is made
// new (never reused).
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define VARNEL_TEST_PID _getpid()
#else
#include <unistd.h>
#define VARNEL_TEST_PID getpid()
#endif

namespace varnel::testing {

// Makes and returns a new directory `prefix-PID-N` under the system's
// temporary directory; empty when none could be made.
inline std::filesystem::path UniqueTempDirectory(const std::string& prefix) {
  std::random_device random;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path path =
        base / (prefix + "-" + std::to_string(VARNEL_TEST_PID) + "-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) return path;
  }
  return {};
}

}  // namespace varnel::testing
