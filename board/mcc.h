#pragma once
// "/dev/mcc/ctl", the multichannel HDLC controller. Each open becomes one
// controller channel at MCC_ALLOCATE; the channel is served on a TDM timeslot
// of its own that MCC_TIMESLOT tells. Then every read or write is one frame.
// Record words are in the processor's byte order.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

namespace Board::Mcc {

inline constexpr const char* kDevice = "/dev/mcc/ctl";

// A frame channel receives each frame into one receive packet: a frame up to
// rxSize octets is one read, a longer one ends with a length error and the
// controller drops it. A transparent channel's bytes are read in runs of at
// most rxSize.
struct Allocate {
  std::int32_t mode;         // mode code, below
  std::int32_t rxSize;       // receive packet size
  std::int32_t reserved;     // 0
  std::int32_t rxThreshold;  // receive threshold
  std::int32_t txThreshold;  // transmit threshold
};
static_assert(sizeof(Allocate) == 20);
static_assert(offsetof(Allocate, rxSize) == 4 && offsetof(Allocate, reserved) == 8);
static_assert(offsetof(Allocate, rxThreshold) == 12 && offsetof(Allocate, txThreshold) == 16);

// The direction bits say "read", though the record goes to the driver.
inline constexpr Request kAllocate = 0x40144D00;  // MCC_ALLOCATE, Allocate
// No argument (passed as the value 0); the result is the channel's timeslot.
inline constexpr Request kTimeslot = 0x20004D02;  // MCC_TIMESLOT
static_assert(kAllocate == Ppc::ior('M', 0, sizeof(Allocate)));
static_assert(kTimeslot == Ppc::io('M', 2));

// Mode codes (channel types) the driver knows; the daemon's channel modes 0,
// 1 and 2 map to 3, 0 and 1.
inline constexpr std::int32_t kModeCodes = 4;
inline constexpr std::int32_t kTypeData = 0;
inline constexpr std::int32_t kTypeBri = 1;
inline constexpr std::int32_t kTypeTransparent = 2;
inline constexpr std::int32_t kTypeSs7 = 3;

// The channel counts: data, BRI, transparent, and a fourth word the daemon
// does not use.
struct Resources {
  std::int32_t data;
  std::int32_t bri;
  std::int32_t transparent;
  std::int32_t other;
};
static_assert(sizeof(Resources) == 16);
static_assert(offsetof(Resources, bri) == 4 && offsetof(Resources, transparent) == 8);

inline constexpr Request kResources = 0x80104D03;  // MCC_RESOURCES, Resources
static_assert(kResources == Ppc::iow('M', 3, sizeof(Resources)));
inline constexpr std::int32_t kMaxPacketSize = 65536;

}  // namespace Board::Mcc
