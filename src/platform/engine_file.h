// File output for the colour engine's raw and bitmap saving, and the system's
// text for an error code.
//
// The engine writes whole files in a few large writes. The file is opened for
// writing only, shared with nobody, created or truncated, with a hint that it
// is written front to back. The object closes a file that is still open when
// it is destroyed, so an early return or an exception never leaks the handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace varnel {

class EngineFileWriter {
 public:
  EngineFileWriter() = default;
  ~EngineFileWriter();
  EngineFileWriter(const EngineFileWriter&) = delete;
  EngineFileWriter& operator=(const EngineFileWriter&) = delete;

  // Creates (or truncates) the file. False on failure; LastError() then holds
  // the system's error code.
  bool Create(const std::filesystem::path& path);
  // Writes all `size` bytes. False when the system refused or wrote fewer.
  bool Write(const void* data, size_t size);
  // Closes the file. False when nothing was open or the system reported an
  // error while closing (a delayed write failure, for example).
  bool Close();

  bool IsOpen() const { return handle_ != kInvalid; }
  // The system error code of the last failed operation (GetLastError on
  // Windows, errno elsewhere).
  uint32_t LastError() const { return lastError_; }

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;
  uint32_t lastError_ = 0;
};

// The system's text for an error code, in the user's language where the
// system offers one, without a trailing line break. Never empty: an unknown
// code gives a generic text that names the number.
std::wstring SystemErrorText(uint32_t code);

}  // namespace varnel
