#include "hardware/pattern.h"

namespace Hardware {

void Pattern::Seed(std::uint32_t seed) {
  if (seed == 0) seed = 1;
  // The first word is the seed as a signed 32-bit value; the others follow
  // the minimal standard generator, (16807 * r) mod (2^31 - 1), in Schrage's
  // form so that no product overflows 32 bits. A negative seed word gives
  // negative remainders: the fix-up is applied as the C library applies it.
  std::int32_t word = static_cast<std::int32_t>(seed);
  state[0] = static_cast<std::uint32_t>(word);
  for (int i = 1; i < kDegree; ++i) {
    const std::int64_t hi = word / 127773;
    const std::int64_t lo = word % 127773;
    std::int64_t next = 16807 * lo - 2836 * hi;
    if (next < 0) next += 2147483647;
    word = static_cast<std::int32_t>(next);
    state[i] = static_cast<std::uint32_t>(word);
  }
  front = kSeparation;
  rear = 0;
  // The first 310 values are thrown away.
  for (int i = 0; i < 10 * kDegree; ++i) Next();
}

std::uint32_t Pattern::Next() {
  // Unsigned, so the sum wraps modulo 2^32 as the algorithm wants.
  state[front] += state[rear];
  const std::uint32_t value = state[front] >> 1;
  if (++front == kDegree) front = 0;
  if (++rear == kDegree) rear = 0;
  return value;
}

}  // namespace Hardware
