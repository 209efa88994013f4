#include "foundation/mux_time.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

class MuxClock : public ::testing::Test {
protected:
  void TearDown() override { Mux::clear_cached_time(); }
};

TEST_F(MuxClock, CounterCutsTo32Bits) {
  struct Case {
    long sec, usec;
    unsigned ms, us;
  };
  const Case cases[] = {
      {0, 1, 0u, 1u},
      {5, 999999, 5999u, 5999999u},
      {4294967, 295000, 4294967295u, 0xFFFFFFFFu & 4294967295000ull},
      {4294967, 296000, 0u, 0xFFFFFFFFu & 4294967296000ull},
      {4294967, 296999, 0u, 0xFFFFFFFFu & 4294967296999ull},
      {4295, 0, 4295000u, 0xFFFFFFFFu & 4295000000ull},
  };
  for (const Case& c : cases) {
    Mux::set_cached_time(Mux::timeval(c.sec, c.usec));
    EXPECT_EQ(c.ms, Mux::milliseconds()) << c.sec << "." << c.usec;
    EXPECT_EQ(c.us, Mux::microseconds()) << c.sec << "." << c.usec;
  }
}

TEST_F(MuxClock, WallCacheAloneDrivesTheCounters) {
  Mux::g_tv_time = Mux::timeval(12, 345000);
  EXPECT_EQ(12345u, Mux::milliseconds());
  EXPECT_EQ(12, Mux::seconds());
  Mux::timeval t;
  EXPECT_EQ(0, Mux::mux_gettimeofday(t));
  EXPECT_EQ(12, t.tv_sec);
  EXPECT_EQ(345000, t.tv_usec);
}

TEST_F(MuxClock, SnapshotFreezesEveryReadUntilCleared) {
  ASSERT_EQ(0, Mux::mux_settimeofday());
  EXPECT_FALSE(Mux::g_tv_time.is_zero());
  EXPECT_FALSE(Mux::g_tv_clock.is_zero());
  unsigned ms = Mux::milliseconds();
  unsigned us = Mux::microseconds();
  time_t s = Mux::seconds();
  for (int i = 0; i < 1000; ++i) ::getppid();
  EXPECT_EQ(ms, Mux::milliseconds());
  EXPECT_EQ(us, Mux::microseconds());
  EXPECT_EQ(s, Mux::seconds());
  // The counters come from the monotonic snapshot, not from the wall clock.
  unsigned wall_ms =
      static_cast<uint32_t>((static_cast<uint64_t>(Mux::g_tv_time.tv_sec) * 1000000u + Mux::g_tv_time.tv_usec) / 1000u);
  unsigned mono_ms = static_cast<uint32_t>(
      (static_cast<uint64_t>(Mux::g_tv_clock.tv_sec) * 1000000u + Mux::g_tv_clock.tv_usec) / 1000u);
  EXPECT_EQ(mono_ms, ms);
  EXPECT_NE(wall_ms, ms);
}

TEST_F(MuxClock, LiveCountersFollowTheMonotonicClock) {
  timespec ts;
  ASSERT_EQ(0, ::clock_gettime(CLOCK_MONOTONIC, &ts));
  uint32_t before = static_cast<uint32_t>((static_cast<uint64_t>(ts.tv_sec) * 1000000000u + ts.tv_nsec) / 1000000u);
  unsigned now = Mux::milliseconds();
  EXPECT_GE(static_cast<int32_t>(now - before), 0);
  EXPECT_LT(static_cast<int32_t>(now - before), 5000);
  // Wall-clock seconds are far beyond any uptime.
  Mux::timeval wall;
  ASSERT_EQ(0, Mux::gettimeval(wall));
  EXPECT_GT(wall.tv_sec, 1000000000);
  EXPECT_LE(std::labs(static_cast<long>(Mux::seconds() - wall.tv_sec)), 1);
}

TEST(MuxTimeval, Construction) {
  EXPECT_TRUE(Mux::timeval().is_zero());
  EXPECT_FALSE(Mux::timeval(0, 1).is_zero());
  Mux::timeval t = Mux::make_from_msec(1500);
  EXPECT_EQ(1, t.tv_sec);
  EXPECT_EQ(500000, t.tv_usec);
  t = Mux::make_from_usec(2000001);
  EXPECT_EQ(2, t.tv_sec);
  EXPECT_EQ(1, t.tv_usec);
  Mux::timevalset(t, 7200000123ull);
  EXPECT_EQ(7200000, t.tv_sec);
  EXPECT_EQ(123000, t.tv_usec);
}

TEST(MuxTimeval, AddAndSubCarry) {
  struct Case {
    Mux::timeval a, b, sum, diff;
  };
  const Case cases[] = {
      {{5, 900000}, {1, 200000}, {7, 100000}, {4, 700000}}, {{5, 100000}, {1, 200000}, {6, 300000}, {3, 900000}},
      {{1, 999999}, {0, 1}, {2, 0}, {1, 999998}},           {{3, 0}, {3, 0}, {6, 0}, {0, 0}},
      {{0, 0}, {0, 999999}, {0, 999999}, {-1, 1}},
  };
  for (const Case& c : cases) {
    Mux::timeval r;
    Mux::timevaladd2(c.a, c.b, r);
    EXPECT_EQ(0, Mux::timevalcompare(r, c.sum)) << r.tv_sec << "." << r.tv_usec;
    Mux::timevalsub2(c.a, c.b, r);
    EXPECT_EQ(0, Mux::timevalcompare(r, c.diff)) << r.tv_sec << "." << r.tv_usec;
    Mux::timeval a = c.a;
    Mux::timevaladd(a, c.b);
    Mux::timevalsub(a, c.b);
    EXPECT_EQ(0, Mux::timevalcompare(a, c.a));
  }
}

TEST(MuxTimeval, DiffAndCompare) {
  Mux::timeval a(5, 900000), b(6, 100000);
  EXPECT_EQ(200, Mux::timevaldiff(a, b));
  EXPECT_EQ(0, Mux::timevaldiff(b, a));
  EXPECT_EQ(0, Mux::timevaldiff(a, a));
  // Sub-millisecond parts truncate towards zero.
  EXPECT_EQ(0, Mux::timevaldiff(Mux::timeval(1, 0), Mux::timeval(1, 999)));
  EXPECT_EQ(1999, Mux::timevaldiff(Mux::timeval(1, 1500), Mux::timeval(3, 0)));
  EXPECT_EQ(2000, Mux::timevaldiff(Mux::timeval(1, 500), Mux::timeval(3, 0)));
  EXPECT_EQ(5000000000000ll, Mux::timevaldiff(Mux::timeval(0, 0), Mux::timeval(5000000000l, 0)));
  EXPECT_EQ(-1, Mux::timevalcompare(a, b));
  EXPECT_EQ(1, Mux::timevalcompare(b, a));
  EXPECT_EQ(-1, Mux::timevalcompare(Mux::timeval(5, 1), Mux::timeval(5, 2)));
  EXPECT_EQ(0, Mux::timevalcompare(a, a));
}

TEST(MuxTimeval, ToStringIsLocalTimeWithMicroseconds) {
  time_t base = 1706745599;  // some moment; its local form depends on TZ
  struct tm tm;
  ASSERT_NE(nullptr, ::localtime_r(&base, &tm));
  char expect[64];
  ::strftime(expect, sizeof expect, "%Y-%m-%d %H:%M:%S", &tm);
  EXPECT_EQ(std::string(expect) + ".000042", Mux::timevaltostring(Mux::timeval(base, 42)));
  EXPECT_EQ(26u, Mux::timevaltostring(Mux::timeval(base, 999999)).size());
}

TEST(MuxTimevalTimer, ExpiresStrictlyAfterThePeriod) {
  Mux::timeval_timer t;
  t.init(Mux::timeval(10, 0), 1000);
  EXPECT_FALSE(t.is_expired(Mux::timeval(10, 999999)));
  EXPECT_FALSE(t.is_expired(Mux::timeval(11, 0)));
  EXPECT_FALSE(t.is_expired(Mux::timeval(11, 999)));
  EXPECT_TRUE(t.is_expired(Mux::timeval(11, 1000)));
  EXPECT_FALSE(t.is_expired(Mux::timeval(9, 0)));
  t.inc();
  EXPECT_EQ(0, Mux::timevalcompare(Mux::timeval(11, 0), t.start()));
  EXPECT_FALSE(t.is_expired(Mux::timeval(11, 1000)));
  t.init_now(Mux::timeval(100, 0));
  EXPECT_EQ(1000, t.period());
  EXPECT_TRUE(t.is_expired(Mux::timeval(101, 1000)));
}

TEST(MuxTimevalTimer, PeriodBelowOneNeverExpires) {
  Mux::timeval_timer t;
  for (int period : {0, -5}) {
    t.init(Mux::timeval(0, 0), period);
    EXPECT_FALSE(t.is_expired(Mux::timeval(1000000, 0)));
    t.inc();
    EXPECT_TRUE(t.start().is_zero());
  }
}

TEST(MuxSet, HighestDescriptorFollowsAddAndRemove) {
  Mux::Set s;
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(nullptr, s.get());
  EXPECT_TRUE(s.add(3));
  EXPECT_TRUE(s.add(9));
  EXPECT_TRUE(s.add(5));
  EXPECT_EQ(9, s.max());
  EXPECT_NE(nullptr, s.get());
  s.remove(9);
  EXPECT_EQ(5, s.max());
  EXPECT_TRUE(s.has(3));
  EXPECT_FALSE(s.has(9));
  s.remove(3);
  s.remove(5);
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(nullptr, s.get());
  EXPECT_FALSE(s.add(-1));
  EXPECT_FALSE(s.add(FD_SETSIZE));
  EXPECT_FALSE(s.has(FD_SETSIZE + 10));
  s.remove(FD_SETSIZE + 10);
  EXPECT_TRUE(s.empty());
  Mux::Set a, b, c;
  a.add(4);
  c.add(7);
  EXPECT_EQ(7, Mux::max_fd(a, b, c));
  EXPECT_EQ(4, Mux::max_fd(a, b));
}

TEST(MuxSet, SelectReportsReadyDescriptors) {
  int p[2];
  ASSERT_EQ(0, ::pipe(p));
  Mux::Set r;
  r.add(p[0]);
  Mux::timeval zero;
  EXPECT_EQ(0, Mux::select_rd(r, zero));
  ASSERT_EQ(1, ::write(p[1], "x", 1));
  r.clear();
  r.add(p[0]);
  zero = Mux::timeval();
  EXPECT_EQ(1, Mux::select_rd(r, zero));
  EXPECT_TRUE(r.has(p[0]));
  Mux::Set w, e;
  w.add(p[1]);
  r.clear();
  r.add(p[0]);
  zero = Mux::timeval();
  EXPECT_EQ(2, Mux::select(r, w, e, zero));
  w.clear();
  w.add(p[1]);
  zero = Mux::timeval();
  EXPECT_EQ(1, Mux::select_wr(w, zero));
  r.clear();
  r.add(p[0]);
  EXPECT_EQ(1, Mux::select(r));
  ::close(p[0]);
  ::close(p[1]);
}

}  // namespace
