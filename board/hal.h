#pragma once
// "/dev/hal", the board's hardware driver: cross-connect (type 'M'), clock
// select (type 'C'), SPI framer registers and the board's switches, power
// supplies and framer LEDs (type 'B'). Every record word is
// in the processor's byte order and every record is zero-filled before use.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

namespace Board::Hal {

inline constexpr const char* kDevice = "/dev/hal";

// Cross-connect.
struct XcConnect {
  std::int32_t output;
  std::int32_t source;
};
struct XcByte {  // write constant: {output, byte}; read: {channel, value}
  std::int32_t channel;
  std::int32_t value;
};
static_assert(sizeof(XcConnect) == 8 && offsetof(XcConnect, source) == 4);
static_assert(sizeof(XcByte) == 8 && offsetof(XcByte, value) == 4);

inline constexpr Request kXcConnect = 0x80084D02;  // XcConnect
inline constexpr Request kXcDisable = 0x80044D03;  // int32_t output
inline constexpr Request kXcWrite = 0xC0084D04;    // XcByte
inline constexpr Request kXcRead = 0xC0084D05;     // XcByte, value preset to 255
static_assert(kXcConnect == Ppc::iow('M', 2, sizeof(XcConnect)));
static_assert(kXcDisable == Ppc::iow('M', 3, sizeof(std::int32_t)));
static_assert(kXcWrite == Ppc::iowr('M', 4, sizeof(XcByte)));
static_assert(kXcRead == Ppc::iowr('M', 5, sizeof(XcByte)));

// Outputs 8192 + 128 * bus + timeslot: 16 buses of 128 timeslots.
inline constexpr int kFirstBusOutput = 8192;
inline constexpr int kBusOutputs = 2048;
inline constexpr unsigned char kIdleByte = 213;

// Clock source select: one int32_t, the clock-source number.
inline constexpr Request kClockSelect = 0x80044301;  // HW_CLOCK_SELECT
static_assert(kClockSelect == Ppc::iow('C', 1, sizeof(std::int32_t)));

// SPI framer registers: {channel, register address, data}; a read's register
// value is the request's result. ENODEV: the board has no SPI bus.
struct SpiAccess {
  std::uint8_t channel;
  std::uint8_t reg;
  std::uint8_t data;
};
static_assert(sizeof(SpiAccess) == 3);
inline constexpr Request kSpiRead = 0xC0034203;
inline constexpr Request kSpiWrite = 0xC0034204;
static_assert(kSpiRead == Ppc::iowr('B', 3, sizeof(SpiAccess)));
static_assert(kSpiWrite == Ppc::iowr('B', 4, sizeof(SpiAccess)));

// One-byte records, zeroed before a read. DIP switches: the switch byte.
// Power supplies: 0 or 3 both, 1 standby, 2 main, above 3 unknown. Framer
// LEDs: two bits per E1 e, bit 2e (link) and 2e+1 (line).
inline constexpr Request kDipRead = 0xC0014205;
inline constexpr Request kPowerRead = 0xC0014206;
inline constexpr Request kLedWrite = 0xC0014207;
static_assert(kDipRead == Ppc::iowr('B', 5, 1));
static_assert(kPowerRead == Ppc::iowr('B', 6, 1));
static_assert(kLedWrite == Ppc::iowr('B', 7, 1));

}  // namespace Board::Hal
