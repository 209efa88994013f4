#include "hardware/pattern.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

namespace {

// The C library's own generator, the one the other end of a bus test may run.
TEST(Pattern, SameSequenceAsTheCLibrary) {
  const int seeds[] = {0, 1, 12345, -1, INT_MIN, INT_MAX};
  for (int seed : seeds) {
    Hardware::Pattern pattern(static_cast<std::uint32_t>(seed));
    ::srandom(static_cast<unsigned>(seed));
    for (int i = 0; i < 1000; ++i) {
      const long expected = ::random();
      ASSERT_EQ(static_cast<std::uint32_t>(expected), pattern.Next()) << "seed " << seed << " value " << i;
    }
  }
}

TEST(Pattern, SeedZeroIsSeedOne) {
  Hardware::Pattern zero(0), one(1);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(one.Next(), zero.Next());
}

TEST(Pattern, ReseedingStartsOver) {
  Hardware::Pattern pattern(777);
  const std::uint32_t first = pattern.Next();
  const std::uint32_t second = pattern.Next();
  pattern.Seed(777);
  EXPECT_EQ(first, pattern.Next());
  EXPECT_EQ(second, pattern.Next());
}

TEST(Pattern, BytesAreTheLowBitsOfTheValues) {
  Hardware::Pattern values(4242), bytes(4242);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(values.Next() & 0xFFu, bytes.NextByte());
}

TEST(Pattern, LeavesTheGlobalGeneratorAlone) {
  ::srandom(99);
  const long first = ::random();
  ::srandom(99);
  Hardware::Pattern pattern(5);
  for (int i = 0; i < 10; ++i) pattern.Next();
  EXPECT_EQ(first, ::random());
}

}  // namespace
