#pragma once
// "/dev/dtmf", the tone/DTMF driver: per TDM timeslot a DTMF detector, an IVA
// detector, DTMF rejection, an echo canceller and a dual-tone generator (type
// 'B'). Records are zero-filled before use; words are in the processor's byte
// order. The value requests pass the timeslot itself as the argument.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

namespace Board::Dtmf {

inline constexpr const char* kDevice = "/dev/dtmf";

struct ConfigureDetector {
  std::uint32_t timeslot;
  std::uint32_t twist;
  std::uint32_t ratio;
  std::uint32_t silence;
  std::uint32_t noise;
};
static_assert(sizeof(ConfigureDetector) == 20);
static_assert(offsetof(ConfigureDetector, twist) == 4 && offsetof(ConfigureDetector, ratio) == 8);
static_assert(offsetof(ConfigureDetector, silence) == 12 && offsetof(ConfigureDetector, noise) == 16);

struct EnableDetector {
  std::uint32_t timeslot;
  std::uint32_t id;
};
static_assert(sizeof(EnableDetector) == 8 && offsetof(EnableDetector, id) == 4);

// Frequencies in Hz; all four zero switch the generator off.
struct Dial {
  std::uint32_t timeslot;
  std::uint16_t freq1;
  std::uint16_t freq2;
  std::uint16_t amp1;
  std::uint16_t amp2;
};
static_assert(sizeof(Dial) == 12);
static_assert(offsetof(Dial, freq1) == 4 && offsetof(Dial, freq2) == 6);
static_assert(offsetof(Dial, amp1) == 8 && offsetof(Dial, amp2) == 10);

struct IvaConfigure {
  std::uint32_t timeslot;
  std::int32_t levelDB;
};
static_assert(sizeof(IvaConfigure) == 8 && offsetof(IvaConfigure, levelDB) == 4);

inline constexpr std::size_t kSelcalSigns = 4;
struct SelcalDial {
  std::uint32_t timeslot;
  std::uint16_t amplitude;
  std::uint8_t signs[kSelcalSigns];
  std::uint8_t zero[2];
};
static_assert(sizeof(SelcalDial) == 12);
static_assert(offsetof(SelcalDial, amplitude) == 4 && offsetof(SelcalDial, signs) == 6);

// One detector event, as a read of the device returns it.
struct Event {
  std::uint32_t code;
  std::uint32_t timeslot;
  std::uint32_t timestamp;
  std::uint32_t id;
};
static_assert(sizeof(Event) == 16);
static_assert(offsetof(Event, timeslot) == 4 && offsetof(Event, timestamp) == 8 && offsetof(Event, id) == 12);

// Codes from here up are the IVA detector's; below, the DTMF detector's
// (digits, CED and CNG).
inline constexpr std::uint32_t kFirstIvaCode = 256;

inline constexpr Request kConfigureDetector = 0x40144202;  // ConfigureDetector
inline constexpr Request kEnableDetector = 0x40084203;     // EnableDetector
inline constexpr Request kDisableDetector = 0x40044204;    // value
inline constexpr Request kDial = 0x400C4205;               // Dial
inline constexpr Request kLmsOn = 0x40044206;              // value: echo canceller on
inline constexpr Request kLmsOff = 0x40044207;             // value
inline constexpr Request kRejectionEnable = 0x40044209;    // value
inline constexpr Request kRejectionDisable = 0x4004420A;   // value
inline constexpr Request kIvaEnable = 0x4004420B;          // value
inline constexpr Request kIvaDisable = 0x4004420C;         // value
inline constexpr Request kIvaConfigure = 0x4008420D;       // IvaConfigure
inline constexpr Request kSelcalDial = 0x400C420E;         // SelcalDial
static_assert(kConfigureDetector == Ppc::ior('B', 2, sizeof(ConfigureDetector)));
static_assert(kEnableDetector == Ppc::ior('B', 3, sizeof(EnableDetector)));
static_assert(kDisableDetector == Ppc::ior('B', 4, sizeof(std::uint32_t)));
static_assert(kDial == Ppc::ior('B', 5, sizeof(Dial)));
static_assert(kLmsOn == Ppc::ior('B', 6, sizeof(std::uint32_t)));
static_assert(kLmsOff == Ppc::ior('B', 7, sizeof(std::uint32_t)));
static_assert(kRejectionEnable == Ppc::ior('B', 9, sizeof(std::uint32_t)));
static_assert(kRejectionDisable == Ppc::ior('B', 10, sizeof(std::uint32_t)));
static_assert(kIvaEnable == Ppc::ior('B', 11, sizeof(std::uint32_t)));
static_assert(kIvaDisable == Ppc::ior('B', 12, sizeof(std::uint32_t)));
static_assert(kIvaConfigure == Ppc::ior('B', 13, sizeof(IvaConfigure)));
static_assert(kSelcalDial == Ppc::ior('B', 14, sizeof(SelcalDial)));

}  // namespace Board::Dtmf
