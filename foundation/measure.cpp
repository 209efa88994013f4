#include "foundation/measure.h"

#include <ostream>

#include "foundation/mux_time.h"

void Measure::begin() { start_ = Mux::statistics_microseconds(); }

void Measure::end() { end(Mux::statistics_microseconds()); }

void Measure::end(uint32_t now) {
  uint32_t d = now - start_;
  if (first_) {
    first_ = false;
    min_ = max_ = last_ = d;
    counter_ = 1;
    return;
  }
  ++counter_;
  if (d < min_) min_ = d;
  if (d > max_) max_ = d;
  last_ = d;
}

void Measure::put(std::ostream& out) const {
  const std::ios_base::fmtflags flags = out.flags();
  out << std::dec << "min=" << min_ << " max=" << max_ << " avg=" << last_ << " counter=" << counter_;
  out.flags(flags);
}

std::ostream& operator<<(std::ostream& out, const Measure& m) {
  m.put(out);
  return out;
}
