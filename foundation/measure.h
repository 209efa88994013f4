#pragma once
#include <cstdint>
#include <iosfwd>

// Durations in microseconds: minimum, maximum, the latest one and the count.
// On the live clock they are read from the coarse statistics clock, which
// costs next to nothing but counts in kernel ticks.
// Printed as "min=... max=... avg=... counter=..."; "avg" is the latest
// duration, which is what the status dump has always shown.
class Measure {
public:
  void begin();
  void end();
  // The same with a reading of the statistics clock taken by the caller:
  // back-to-back intervals share the reading between them.
  void begin(uint32_t now) { start_ = now; }
  void end(uint32_t now);
  void put(std::ostream& out) const;

  uint32_t min() const { return min_; }
  uint32_t max() const { return max_; }
  uint32_t last() const { return last_; }
  uint32_t counter() const { return counter_; }
  // The clock reading at the end of the latest measurement.
  uint32_t ended() const { return start_ + last_; }

private:
  uint32_t min_ = 0;
  uint32_t max_ = 0;
  uint32_t last_ = 0;
  bool first_ = true;
  uint32_t start_ = 0;
  uint32_t counter_ = 0;
};

std::ostream& operator<<(std::ostream& out, const Measure& m);
