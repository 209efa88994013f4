#pragma once
// "/dev/mctl", the board's modem driver: each open allocates at most one DSP
// modem and holds it until its last close; the modem's terminal is
// "/dev/mdm<n>". Requests carry only the type 0xBB and their number (no
// direction or size bits). Value requests pass the value itself; the others a
// record of 32-bit words in the processor's byte order.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

namespace Board {
namespace Mctl {

inline constexpr const char* kDevice = "/dev/mctl";
inline constexpr const char* kTerminalFormat = "/dev/mdm%d";

constexpr Request plain(Request nr) { return (0xBBu << 8) | nr; }

// By value.
inline constexpr Request kAllocate = 0xBB0B;     // 0; result: the modem number
inline constexpr Request kEnumerate = 0xBB0C;    // previous modem, -1 first; ENODEV after the last
inline constexpr Request kGetTimeslot = 0xBB15;  // 0; result: the modem's timeslot
// With a record.
inline constexpr Request kSetDdm = 0xBB16;       // mctl_ddm
inline constexpr Request kResetDmp = 0xBB3A;     // mctl_modem
inline constexpr Request kSetDmp = 0xBB38;       // mctl_dmp
inline constexpr Request kAnswer = 0xBB03;       // mctl_modem
inline constexpr Request kOriginate = 0xBB04;    // mctl_modem
inline constexpr Request kFaxOriginate = 0xBB40; // mctl_modem
static_assert(kAllocate == plain(0x0B) && kEnumerate == plain(0x0C) && kGetTimeslot == plain(0x15));
static_assert(kSetDdm == plain(0x16) && kResetDmp == plain(0x3A) && kSetDmp == plain(0x38));
static_assert(kAnswer == plain(0x03) && kOriginate == plain(0x04) && kFaxOriginate == plain(0x40));

// Digital data mode bits.
inline constexpr std::int32_t kDdmV110 = 0x1, kDdm8Bit = 0x2, kDdm7Bit = 0x4;

}  // namespace Mctl
}  // namespace Board

// A request naming the modem, the second word -1.
struct mctl_modem {
  std::int32_t modem;
  std::int32_t arg;
};
static_assert(sizeof(mctl_modem) == 8);
static_assert(offsetof(mctl_modem, arg) == 4);

struct mctl_ddm {
  std::int32_t modem;
  std::int32_t mask;
};
static_assert(sizeof(mctl_ddm) == 8);
static_assert(offsetof(mctl_ddm, mask) == 4);

struct mctl_dmp {
  std::int32_t modem;
  std::int32_t offset;
  std::int32_t value;
};
static_assert(sizeof(mctl_dmp) == 12);
static_assert(offsetof(mctl_dmp, offset) == 4);
static_assert(offsetof(mctl_dmp, value) == 8);
