// Collects the many small pieces some writers produce (libpng writes every
// chunk as length, type, data and checksum; the BMP writer one row at a time)
// into large writes to an OutputFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "platform/output_file.h"

namespace varnel {

class BufferedOutput {
 public:
  static constexpr size_t kCapacity = 256 * 1024;

  explicit BufferedOutput(OutputFile& file)
      : file_(file), buffer_(new (std::nothrow) uint8_t[kCapacity]) {}

  // False when the buffer could not be had; nothing may be put then.
  bool Ready() const { return buffer_ != nullptr; }

  // Appends `size` bytes; false once any write to the file has failed.
  bool Put(const void* data, size_t size) {
    if (!ok_ || !buffer_) return false;
    if (used_ + size > kCapacity) {
      if (!Flush()) return false;
      // A piece at least as large as the buffer goes straight to the file.
      if (size >= kCapacity) return ok_ = file_.Write(data, size);
    }
    std::memcpy(buffer_.get() + used_, data, size);
    used_ += size;
    return true;
  }

  // Writes what is collected; false once any write has failed.
  bool Flush() {
    if (ok_ && used_ > 0) ok_ = file_.Write(buffer_.get(), used_);
    used_ = 0;
    return ok_;
  }

 private:
  OutputFile& file_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t used_ = 0;
  bool ok_ = true;
};

}  // namespace varnel
