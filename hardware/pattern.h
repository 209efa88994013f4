#pragma once
// The bus-test pattern generator: the C library's random() algorithm (the
// additive feedback generator with 31 words of state, r[i] = r[i-3] +
// r[i-31]) as its srandom() seeds it, kept in an object of our own so that
// the daemon never disturbs the process's global random() state. Two boards
// with the same seed produce the same bytes whichever side runs which code.
#include <cstdint>

namespace Hardware {

class Pattern {
public:
  explicit Pattern(std::uint32_t seed = 1) { Seed(seed); }

  // Seed 0 counts as 1, as srandom() has it.
  void Seed(std::uint32_t seed);
  // The next value, 0 to 2^31 - 1: what random() would return.
  std::uint32_t Next();
  // The low 8 bits of the next value.
  unsigned char NextByte() { return static_cast<unsigned char>(Next() & 0xFFu); }

private:
  static constexpr int kDegree = 31;
  static constexpr int kSeparation = 3;

  // A ring of the last 31 values: the slot at front holds r[i-31] and
  // becomes r[i]; the slot at rear holds r[i-3].
  std::uint32_t state[kDegree];
  int front;
  int rear;
};

}  // namespace Hardware
