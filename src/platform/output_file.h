// The file the image writers fill.
//
// A picture is written front to back in a few large writes; only the TIFF
// writer seeks back, to fill in offsets that libtiff learns late. Every write
// and the close are checked: a full disk, a write error reported only when the
// file is closed, or a short write makes the operation report failure, so that
// a damaged picture is never reported as saved.
//
// The name is taken exactly as the application gave it, in the system's
// narrow encoding (the ANSI code page on Windows). On Windows the file is
// opened as the library always opened its picture files: an existing file is
// truncated, else a new one is created (so hidden or read-only attributes of
// an existing file are kept rather than tripping over CREATE_ALWAYS). The
// object closes a file that is still open when it is destroyed, so no path
// leaves a handle behind.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnel {

class OutputFile {
 public:
  enum class SeekFrom { kBegin, kCurrent, kEnd };

  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens `name` for writing, truncating an existing file or creating a new
  // one. False (and no handle) when the name is null or the system refuses.
  bool Create(const char* name);
  // Writes all `size` bytes at the current position. False when nothing is
  // open, the system refused, or it wrote nothing.
  bool Write(const void* data, size_t size);
  // Moves the position; returns the new position from the start of the file,
  // or -1 when nothing is open or the system refused.
  int64_t Seek(int64_t offset, SeekFrom from);
  // The file's current size, or -1.
  int64_t Size() const;
  // Closes the file. False when nothing was open or the system reported an
  // error on closing. The handle is given up either way.
  bool Close();

  bool IsOpen() const { return handle_ != kInvalid; }

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;
};

}  // namespace varnel
