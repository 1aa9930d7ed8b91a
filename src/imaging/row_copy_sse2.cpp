// Non-temporal row copy: 16-byte streaming stores from the first aligned
// destination byte, the unaligned ends copied plainly.
#include <cstdint>
#include <cstring>

#include "imaging/row_copy.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

#if defined(__SSE2__)

bool HaveStreamingCopySse2() { return true; }

void CopyRowStreamingSse2(uint8_t* destination, const uint8_t* source, size_t bytes) {
  // No templates from the standard library here: an object built with vector
  // flags must not hand shared inline code to the linker.
  const size_t misalignment = (16 - (reinterpret_cast<uintptr_t>(destination) & 15)) & 15;
  const size_t head = misalignment < bytes ? misalignment : bytes;
  std::memcpy(destination, source, head);
  size_t at = head;
  for (; at + 64 <= bytes; at += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at + 48));
    _mm_stream_si128(reinterpret_cast<__m128i*>(destination + at), a);
    _mm_stream_si128(reinterpret_cast<__m128i*>(destination + at + 16), b);
    _mm_stream_si128(reinterpret_cast<__m128i*>(destination + at + 32), c);
    _mm_stream_si128(reinterpret_cast<__m128i*>(destination + at + 48), d);
  }
  for (; at + 16 <= bytes; at += 16) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(destination + at),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at)));
  }
  std::memcpy(destination + at, source + at, bytes - at);
}

void StreamingCopyFenceSse2() { _mm_sfence(); }

#else

bool HaveStreamingCopySse2() { return false; }
void CopyRowStreamingSse2(uint8_t* destination, const uint8_t* source, size_t bytes) {
  std::memcpy(destination, source, bytes);
}
void StreamingCopyFenceSse2() {}

#endif

}  // namespace varnel
