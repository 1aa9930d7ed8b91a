// Win32 file output of the image writers.
#include <windows.h>

#include "platform/output_file.h"

namespace varnel {

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

OutputFile::~OutputFile() {
  if (IsOpen()) ::CloseHandle(AsHandle(handle_));
}

bool OutputFile::Create(const char* name) {
  if (IsOpen()) Close();
  if (name == nullptr) return false;
  // An existing file is truncated in place; only when there is none is a new
  // one created.
  HANDLE h = ::CreateFileA(name, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    h = ::CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool OutputFile::Write(const void* data, size_t size) {
  if (!IsOpen()) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    // WriteFile takes a 32-bit count; large pictures go in pieces.
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

int64_t OutputFile::Seek(int64_t offset, SeekFrom from) {
  if (!IsOpen()) return -1;
  const DWORD method = from == SeekFrom::kBegin ? FILE_BEGIN
                       : from == SeekFrom::kEnd ? FILE_END
                                                : FILE_CURRENT;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER position;
  if (!::SetFilePointerEx(AsHandle(handle_), distance, &position, method)) return -1;
  return position.QuadPart;
}

int64_t OutputFile::Size() const {
  LARGE_INTEGER size;
  if (!IsOpen() || !::GetFileSizeEx(AsHandle(handle_), &size)) return -1;
  return size.QuadPart;
}

bool OutputFile::Close() {
  if (!IsOpen()) return false;
  HANDLE h = AsHandle(handle_);
  handle_ = kInvalid;
  return ::CloseHandle(h) != 0;
}

}  // namespace varnel
