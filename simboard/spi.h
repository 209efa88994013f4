#pragma once
// The SPI bus of "/dev/hal" (type 'B'): eight BRI framers of 256 registers.
// A read answers the register's value as the request's result; every write
// is kept in a log. A board without SPI fails every request with ENODEV.
#include <cstdint>
#include <deque>
#include <string>

namespace SimBoard {

class Hal;

class SpiFramers {
public:
  static constexpr int kChannels = 8;
  static constexpr int kRegisters = 256;
  static constexpr int kStatusRegister = 51;
  // Bits 0, 2, 6 and 7: a line in sync.
  static constexpr std::uint8_t kStatusNormal = 0xC5;
  // The oldest writes are dropped beyond this.
  static constexpr std::size_t kLogSize = 4096;

  struct Write {
    int channel;
    int reg;
    int value;
    bool operator==(const Write& o) const { return channel == o.channel && reg == o.reg && value == o.value; }
  };

  SpiFramers() { reset(); }

  // Registers the requests and the "spi" commands on the HAL device.
  void install(Hal& hal);
  // Every register 0 but the status (normal), log empty, SPI present.
  void reset();

  int get(int channel, int reg) const { return regs_[channel][reg]; }
  void set(int channel, int reg, std::uint8_t value) { regs_[channel][reg] = value; }
  const std::deque<Write>& log() const { return log_; }
  void clear_log() { log_.clear(); }
  void set_present(bool present) { present_ = present; }
  bool present() const { return present_; }

private:
  int read(void* arg) const;
  int write(void* arg);

  std::uint8_t regs_[kChannels][kRegisters];
  std::deque<Write> log_;
  bool present_ = true;
};

}  // namespace SimBoard
