// Camera model codes: four ASCII characters packed into 32 bits, the first
// character in the lowest byte (a three-character code has 0 in the top byte).
#pragma once

#include <cstdint>

namespace varnel {

using ModelCode = uint32_t;

constexpr ModelCode MakeModelCode(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}
constexpr ModelCode MakeModelCode(const char (&text)[4]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16;
}

inline constexpr ModelCode kModelHWH8 = MakeModelCode("HWH8");
inline constexpr ModelCode kModelHXA1 = MakeModelCode("HXA1");
inline constexpr ModelCode kModelHXB2 = MakeModelCode("HXB2");
inline constexpr ModelCode kModelHXE5 = MakeModelCode("HXE5");
inline constexpr ModelCode kModelHXC3 = MakeModelCode("HXC3");
inline constexpr ModelCode kModelR2T = MakeModelCode("R2T");
inline constexpr ModelCode kModelHYD4 = MakeModelCode("HYD4");
inline constexpr ModelCode kModelHZF6 = MakeModelCode("HZF6");
inline constexpr ModelCode kModelHZG7 = MakeModelCode("HZG7");
// Known to the instance's tables but never built by the factory.
inline constexpr ModelCode kModelHXJ9 = MakeModelCode("HXJ9");

// The nine buildable models in the factory's order.
inline constexpr ModelCode kModelList[9] = {kModelHWH8, kModelHXA1, kModelHXB2,
                                            kModelHXE5, kModelHXC3, kModelR2T,
                                            kModelHYD4, kModelHZF6, kModelHZG7};

static_assert(kModelR2T == 0x52u + 0x32u * 256u + 0x54u * 65536u);

}  // namespace varnel
