// Plain-memory storage, the same on both platforms: a zeroed block and a
// colour table kept in memory.
#include <algorithm>
#include <new>

#include "platform/dib_storage.h"

#include "platform/resources.h"

namespace varnel {

namespace {

class PlainDibStorage final : public DibStorage {
 public:
  explicit PlainDibStorage(std::unique_ptr<uint8_t[]> pixels) : pixels_(std::move(pixels)) {}

  uint8_t* Pixels() const override { return pixels_.get(); }
  void* DeviceContext() const override { return nullptr; }
  void* Bitmap() const override { return nullptr; }

  int SetColorTable(int first, int count, const RgbQuad* entries) override {
    const int n = ClampCount(first, count);
    if (n > 0) std::copy(entries, entries + n, table_ + first);
    return n;
  }

  int GetColorTable(int first, int count, RgbQuad* entries) const override {
    const int n = ClampCount(first, count);
    if (n > 0) std::copy(table_ + first, table_ + first + n, entries);
    return n;
  }

 private:
  static int ClampCount(int first, int count) {
    if (first < 0 || first >= kColorTableSize || count <= 0) return 0;
    return std::min(count, kColorTableSize - first);
  }

  std::unique_ptr<uint8_t[]> pixels_;
  RgbQuad table_[kColorTableSize] = {};
};

}  // namespace

std::unique_ptr<DibStorage> CreatePlainDibStorage(size_t size) {
  if (size == 0 || ResourceRefused(ResourceKind::kMemory, size)) return nullptr;
  std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[size]());
  if (!pixels) return nullptr;
  return std::make_unique<PlainDibStorage>(std::move(pixels));
}

}  // namespace varnel
