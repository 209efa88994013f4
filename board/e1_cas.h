#pragma once
// "/dev/e1-cas": channel-associated signalling on the E1 trunks (type 'C').
// Reading the device yields one CasChannel record per change of received
// bits. Words are in the processor's byte order.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

namespace Board::E1Cas {

inline constexpr const char* kDevice = "/dev/e1-cas";
inline constexpr int kTrunks = 4;
inline constexpr int kTimeslots = 32;

struct CasChannel {
  std::int32_t path;  // the trunk
  std::int32_t timeslot;
  std::uint8_t rx;  // received bits
  std::uint8_t tx;  // transmitted bits
  std::uint8_t pad[2];
};
static_assert(sizeof(CasChannel) == 12);
static_assert(offsetof(CasChannel, timeslot) == 4 && offsetof(CasChannel, rx) == 8 && offsetof(CasChannel, tx) == 9);

struct CasEnable {
  CasChannel channel;    // tx: the first bits to send when enabling
  std::int32_t disable;  // 0 enables, 1 disables
};
static_assert(sizeof(CasEnable) == 16 && offsetof(CasEnable, disable) == 12);

inline constexpr Request kOpenTrunk = 0x80044300;   // value: the trunk
inline constexpr Request kCloseTrunk = 0x80044301;  // value: the trunk
inline constexpr Request kSetBits = 0xC00C4302;     // CasChannel, tx the bits
inline constexpr Request kGetBits = 0xC00C4303;     // CasChannel, rx and tx come back
inline constexpr Request kEnable = 0xC0104304;      // CasEnable
static_assert(kOpenTrunk == Ppc::iow('C', 0, sizeof(std::int32_t)));
static_assert(kCloseTrunk == Ppc::iow('C', 1, sizeof(std::int32_t)));
static_assert(kSetBits == Ppc::iowr('C', 2, sizeof(CasChannel)));
static_assert(kGetBits == Ppc::iowr('C', 3, sizeof(CasChannel)));
static_assert(kEnable == Ppc::iowr('C', 4, sizeof(CasEnable)));

}  // namespace Board::E1Cas
