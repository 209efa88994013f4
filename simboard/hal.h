#pragma once
// "/dev/hal" of the simulated board. Type 'M' is the TDM cross-connect: every
// output is disabled, carries a constant byte, or is fed by a source, and a
// read answers the byte the output carries. Type 'B' is the SPI bus of the
// BRI framers (simboard/spi.h) and the board's panel: DIP switches, power
// supplies and framer LEDs (one byte each; the LED byte keeps its history).
// Type 'C' is the bus clock (simboard/clock.h).
#include <cstdint>
#include <functional>
#include <map>
#include <unordered_map>
#include <vector>

#include "board/hal.h"
#include "simboard/clock.h"
#include "simboard/driver.h"
#include "simboard/spi.h"

namespace SimBoard {

class Hal : public Driver {
public:
  // Every non-negative output exists. Outputs 0 to kDense - 1 (the bus
  // outputs among them) have their state at hand, so that requests on them
  // never allocate; the others get theirs on first change, at most kSparse
  // of them (ENOSPC beyond).
  static constexpr int kDense = 16384;
  static constexpr std::size_t kSparse = 65536;
  // A fed output that leads through more sources than this (a cycle) reads 255.
  static constexpr int kMaxChain = 64;
  static constexpr unsigned char kDisabledByte = 255;

  enum class State : std::uint8_t { Disabled, Constant, Fed };
  struct Output {
    State state = State::Disabled;
    std::uint8_t byte = 0;         // Constant
    std::int32_t source = 0;       // Fed
    std::uint8_t stuck_mask = 0;   // bits forced on every read
    std::uint8_t stuck_value = 0;  // their forced values
    std::uint32_t disables = 0;    // disable requests since the last clear
  };

  Hal();

  // The panel's defaults: switches 0, both supplies (byte 3), LEDs dark.
  static constexpr unsigned char kDefaultDip = 0;
  static constexpr unsigned char kDefaultPower = 3;
  // LED writes kept, the oldest dropped first.
  static constexpr std::size_t kLedHistory = 64;

  void reset() override {
    clear();
    reset_panel();
    spi_.reset();
    clock_.reset();
  }

  SpiFramers& spi() { return spi_; }

  unsigned char dip() const { return dip_; }
  unsigned char power() const { return power_; }
  void set_dip(unsigned char b) { dip_ = b; }
  void set_power(unsigned char b) { power_ = b; }
  // The last byte written, and every byte written, oldest first.
  unsigned char led() const { return led_; }
  const std::vector<unsigned char>& led_history() const { return led_history_; }
  void reset_panel();
  ClockSource& clock() { return clock_; }

  // The model, for tests and commands. A negative output does not exist
  // (null, false, 255).
  const Output* output(int n) const;
  // The byte a read of the output answers.
  unsigned char carried(int n) const;
  // Another board puts a constant byte on the output.
  bool put(int n, unsigned char byte);
  bool stick(int n, int bit, bool value);
  // The outputs fed straight by the source, ascending (frames follow these).
  void fed_by(int source, std::vector<int>& outputs) const;
  // Every output disabled, no stuck bit, disable counts 0.
  void clear();
  // Told the source of a fed output just before the output stops being fed
  // by it: a channel that still holds bytes on their way out puts them out
  // first (its descriptor cannot tell the daemon that they are unplayed).
  void on_unfeed(std::function<void(int source)> f) { unfeed_ = std::move(f); }
  // "output=9000 state=fed source=8325 disables=0 read=18 ..."
  std::string describe(int n) const;

private:
  friend class SpiFramers;
  friend class ClockSource;

  int connect(void* arg);
  int disable(void* arg);
  int write_constant(void* arg);
  int read(void* arg);
  void install_panel();
  unsigned char carried(int n, int depth) const;
  // The output's state to change; null when it does not exist or there is no
  // room for it.
  Output* touch(int n) { return n >= 0 && n < kDense ? &dense_[static_cast<std::size_t>(n)] : touch_sparse(n); }
  Output* touch_sparse(int n);
  // Output n is about to change from o; new_source is what it will be fed
  // by (-1: nothing).
  void unfeeding(int n, const Output& o, int new_source = -1) {
    if (o.state == State::Fed && o.source != new_source && unfeed_) unfeed_(o.source);
    if (o.state == State::Fed) unlink_feed(n, o.source);
  }
  void link_feed(int n, int source);
  void unlink_feed(int n, int source);

  std::vector<Output> dense_;
  std::map<int, Output> sparse_;
  // The outputs each source feeds, ascending: frames follow them at every
  // hop, which must not cost a walk of every output.
  std::unordered_map<std::int32_t, std::vector<int>> feeds_;
  std::function<void(int)> unfeed_;
  bool sparse_full_logged_ = false;
  unsigned char dip_ = kDefaultDip;
  unsigned char power_ = kDefaultPower;
  unsigned char led_ = 0;
  std::vector<unsigned char> led_history_;
  SpiFramers spi_;
  ClockSource clock_;
};

}  // namespace SimBoard
