#pragma once
// The TDM bus clock of "/dev/hal" (type 'C'): the selected source and the
// selections made since the last reset.
#include <cstddef>
#include <cstdint>
#include <deque>

namespace SimBoard {

class Hal;

class ClockSource {
public:
  // Source 4: the free-running internal clock.
  static constexpr std::int32_t kFreerun = 4;
  static constexpr std::size_t kHistory = 64;

  ClockSource() { reset(); }

  void install(Hal& hal);
  // Freerun, no selection.
  void reset();

  std::int32_t source() const { return source_; }
  // Oldest first; the oldest are dropped beyond kHistory.
  const std::deque<std::int32_t>& selections() const { return selections_; }

private:
  int select(void* arg);

  std::int32_t source_ = kFreerun;
  std::deque<std::int32_t> selections_;
};

}  // namespace SimBoard
