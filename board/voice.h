#pragma once
// "/dev/voice", the board's voice (codec) driver: how many channels of each
// codec class it can serve, and its version record (type 'V'). Words are in
// the processor's byte order.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

namespace Board::Voice {

inline constexpr const char* kDevice = "/dev/voice";

// Codec classes as the driver numbers them.
enum CodecClass : std::uint32_t {
  kClassG711 = 1,
  kClassG723 = 2,
  kClassG729 = 4,
  kClassG711Mcc = 8,
  kClassUniversal = 65,
};

struct Version {
  std::uint32_t word[5];
};
static_assert(sizeof(Version) == 20);

// The word holds the class on the way in and its channel count on the way
// out.
inline constexpr Request kClassCount = 0x40045602;  // std::uint32_t
inline constexpr Request kGetVersion = 0x4014560A;  // Version
static_assert(kClassCount == Ppc::ior('V', 2, sizeof(std::uint32_t)));
static_assert(kGetVersion == Ppc::ior('V', 10, sizeof(Version)));

}  // namespace Board::Voice
