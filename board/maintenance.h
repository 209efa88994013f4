#pragma once
// The framer driver's maintenance device: per E1 trunk the synchronisation
// status record, the clock source of the framers and the TCLK selection
// (type 'M'). Words are in the processor's byte order.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

namespace Board::Maintenance {

inline constexpr const char* kDevice = "/dev/maintenance";
inline constexpr int kTrunks = 4;

// Zero-filled before each request; the caller puts the trunk in.
struct SyncStatus {
  std::int32_t trunk;
  std::int32_t unread1[8];
  std::int32_t slips;
  std::int32_t lossBF;
  std::int32_t lossCarrier;
  std::int32_t ais;
  std::int32_t rai;
  std::int32_t unread2[5];
  std::int32_t state;  // numbered as ACP::TrunkState
};
static_assert(sizeof(SyncStatus) == 80);
static_assert(offsetof(SyncStatus, slips) == 36 && offsetof(SyncStatus, lossBF) == 40);
static_assert(offsetof(SyncStatus, lossCarrier) == 44 && offsetof(SyncStatus, ais) == 48);
static_assert(offsetof(SyncStatus, rai) == 52 && offsetof(SyncStatus, state) == 76);

// Trunk states as the driver numbers them.
enum TrunkState : std::int32_t { kNormal, kLossBF, kLossCarrier, kAis, kRai, kUnknown, kDisabled };

inline constexpr Request kReadStatus = 0xC0504D03;   // SyncStatus
inline constexpr Request kSelectClock = 0xC0044D0A;  // value: the source number
inline constexpr Request kSetTclk = 0xC0044D0B;      // value: the TCLK mask
static_assert(kReadStatus == Ppc::iowr('M', 3, sizeof(SyncStatus)));
static_assert(kSelectClock == Ppc::iowr('M', 10, sizeof(std::int32_t)));
static_assert(kSetTclk == Ppc::iowr('M', 11, sizeof(std::int32_t)));

}  // namespace Board::Maintenance
