#pragma once
// "/dev/dsp-data", the DSP's data device. Each open is one signalling
// channel: every read or write is one frame, carried on a TDM timeslot of the
// channel's own. A channel also has three B subslots, each given a timeslot
// of its own on request. Record words are in the processor's byte order.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

namespace Board::DspData {

inline constexpr const char* kDevice = "/dev/dsp-data";

// The B subslots of a channel, counted from 0.
inline constexpr std::uint32_t kSubslots = 3;

struct AddB {
  std::uint32_t subslot;  // counted from 0
  std::int32_t timeslot;  // -1 going in; the subslot's timeslot coming back
};
static_assert(sizeof(AddB) == 8);
static_assert(offsetof(AddB, timeslot) == 4);

struct RemoveB {
  std::uint32_t subslot;
};
static_assert(sizeof(RemoveB) == 4);

// No argument (passed as the value 0); the result is the channel's timeslot.
// The direction and size bits are the driver's, not an argument's.
inline constexpr Request kTimeslot = 0x40044211;
// AddB; a result of -1 is a refusal.
inline constexpr Request kAddB = 0x8008420F;
// RemoveB; the result tells nothing.
inline constexpr Request kRemoveB = 0x80044210;
static_assert(kTimeslot == Ppc::ior('B', 17, 4));
static_assert(kAddB == Ppc::iow('B', 15, sizeof(AddB)));
static_assert(kRemoveB == Ppc::iow('B', 16, sizeof(RemoveB)));

}  // namespace Board::DspData
