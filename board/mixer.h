#pragma once
// "/dev/mixer", the board's mixer units. Each unit has TDM channels and sums,
// for every channel it drives, any set of other channels with a gain. The
// device is opened for each request. Record words are in the processor's byte
// order.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

namespace Board::Mixer {

inline constexpr const char* kDevice = "/dev/mixer";

// The only channel kind the daemon names.
inline constexpr std::int32_t kTdmChannel = 0;
// Unity gain: every route the daemon makes for itself.
inline constexpr std::int32_t kFullGain = 32767;

struct mix_slot {
  std::int32_t dev_no;
  std::int32_t type;
  std::int32_t number;
};
static_assert(sizeof(mix_slot) == 12);
static_assert(offsetof(mix_slot, type) == 4 && offsetof(mix_slot, number) == 8);

struct mix_route {
  mix_slot rx;  // receives the sum
  mix_slot tx;  // added into it
  std::int32_t gain;
};
static_assert(sizeof(mix_route) == 28);
static_assert(offsetof(mix_route, tx) == 12 && offsetof(mix_route, gain) == 24);

struct mix_info {
  std::int32_t dev_no;  // in: the previous unit (-1 first); out: the next one
  std::int32_t tdm_channels;
  std::int32_t reserved;
  std::int32_t mixer_inputs;
};
static_assert(sizeof(mix_info) == 16);
static_assert(offsetof(mix_info, tdm_channels) == 4 && offsetof(mix_info, mixer_inputs) == 12);

inline constexpr Request kRxClear = 0x800C4D02;   // MIX_RX_CLEAR, mix_slot
inline constexpr Request kRxAdd = 0x801C4D03;     // MIX_RX_ADD, mix_route
inline constexpr Request kRxRemove = 0x801C4D04;  // MIX_RX_REMOVE, mix_route (gain unused)
inline constexpr Request kTdm = 0x800C4D06;       // MIX_TDM, mix_slot; the result is the timeslot
inline constexpr Request kInfo = 0x80104D07;      // MIX_INFO, mix_info; fails after the last unit
static_assert(kRxClear == Ppc::iow('M', 2, sizeof(mix_slot)));
static_assert(kRxAdd == Ppc::iow('M', 3, sizeof(mix_route)));
static_assert(kRxRemove == Ppc::iow('M', 4, sizeof(mix_route)));
static_assert(kTdm == Ppc::iow('M', 6, sizeof(mix_slot)));
static_assert(kInfo == Ppc::iow('M', 7, sizeof(mix_info)));

}  // namespace Board::Mixer
