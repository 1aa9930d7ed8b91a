// On Linux there is no graphics device interface: every image is plain
// memory, with its colour table kept beside it.
#include "platform/dib_storage.h"

namespace varnel {

std::unique_ptr<DibStorage> CreateDibStorage(const BitmapInfoHeader& header, int32_t stride,
                                             const DibStorage* /*reference*/) {
  if (stride <= 0 || header.height <= 0) return nullptr;
  return CreatePlainDibStorage(static_cast<size_t>(stride) * static_cast<size_t>(header.height));
}

}  // namespace varnel
