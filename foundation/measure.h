#pragma once
#include <cstdint>
#include <iosfwd>

// Durations in microseconds: minimum, maximum, the latest one and the count.
// Printed as "min=... max=... avg=... counter=..."; "avg" is the latest
// duration, which is what the status dump has always shown.
class Measure {
public:
  void begin();
  void end();
  void put(std::ostream& out) const;

  uint32_t min() const { return min_; }
  uint32_t max() const { return max_; }
  uint32_t last() const { return last_; }
  uint32_t counter() const { return counter_; }

private:
  uint32_t min_ = 0;
  uint32_t max_ = 0;
  uint32_t last_ = 0;
  bool first_ = true;
  uint32_t start_ = 0;
  uint32_t counter_ = 0;
};

std::ostream& operator<<(std::ostream& out, const Measure& m);
