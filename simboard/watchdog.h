#pragma once
// The board's watchdog ("/dev/misc/gw-wd"): the loop writes "START", then
// "PING" at least once a second, and "STOP" when it ends. The simulated one
// records each with the loop clock's time.
#include <cstdint>
#include <deque>
#include <string>

#include "simboard/driver.h"

namespace SimBoard {

class Watchdog : public Driver {
public:
  // The oldest records go beyond this many.
  static constexpr std::size_t kMaxRecords = 1000;

  struct Record {
    std::uint32_t ms;  // Mux::milliseconds() when it was read
    std::string what;  // "START", "PING", "STOP", or what else was written
  };

  explicit Watchdog(const char* path);

  void on_data(Session&, const std::uint8_t* data, std::size_t len) override;
  void reset() override;

  // What was written so far; reads what is pending first.
  const std::deque<Record>& records();
  std::uint32_t dropped() const { return dropped_; }

private:
  std::deque<Record> records_;
  std::uint32_t dropped_ = 0;
};

}  // namespace SimBoard
