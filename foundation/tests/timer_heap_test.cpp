// The timer queue at sizes where a walk of a sorted list would show, and
// the loop's one clock reading per pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "foundation/event.h"
#include "foundation/measure.h"
#include "foundation/timer.h"
#include "loop_test_util.h"

using looptest::CachedClock;
using looptest::Capture;

namespace {

struct Recorder {
  Recorder(std::vector<int>* f, int i) : fired(f), id(i) {}
  std::vector<int>* fired;
  int id;
  Timer t;
  void On() { fired->push_back(id); }
};

// Timers set in the given order with the given delays fire sorted by delay,
// equal delays in setting order.
std::vector<int> ExpectedOrder(const std::vector<unsigned>& delays, const std::vector<bool>& cancelled) {
  std::vector<std::pair<unsigned, int>> keyed;
  for (size_t i = 0; i < delays.size(); ++i)
    if (!cancelled[i]) keyed.emplace_back(delays[i], int(i));
  std::stable_sort(
      keyed.begin(), keyed.end(),
      [](const std::pair<unsigned, int>& a, const std::pair<unsigned, int>& b) { return a.first < b.first; });
  std::vector<int> order;
  for (const auto& k : keyed) order.push_back(k.second);
  return order;
}

}  // namespace

TEST(TimerHeap, ManyTimersFireByExpiryThenSettingOrder) {
  const struct {
    unsigned count;
    unsigned spread;  // delays drawn from 1..spread: small spreads give many ties
    unsigned cancelEvery;
  } cases[] = {{1, 5, 0}, {2, 1, 0}, {100, 3, 7}, {1000, 50, 5}, {5000, 100000, 3}};
  for (const auto& c : cases) {
    CachedClock clock;
    std::mt19937 rng(c.count);
    std::vector<int> fired;
    std::vector<std::unique_ptr<Recorder>> recorders;
    std::vector<unsigned> delays;
    std::vector<bool> cancelled(c.count, false);
    for (unsigned i = 0; i < c.count; ++i) {
      recorders.emplace_back(new Recorder(&fired, int(i)));
      delays.push_back(1 + rng() % c.spread);
      recorders.back()->t.set(delays.back(), &Recorder::On, recorders.back().get());
    }
    for (unsigned i = 0; c.cancelEvery && i < c.count; i += c.cancelEvery) {
      recorders[i]->t.reset();
      cancelled[i] = true;
    }
    clock.advance(c.spread);
    multiplexer.timers_schedule();
    EXPECT_EQ(fired, ExpectedOrder(delays, cancelled)) << c.count;
    EXPECT_EQ(multiplexer.timer_count(), 0u);
  }
}

// A timer set again goes behind the ones already due at its new expiry.
TEST(TimerHeap, RearmedTimerRanksBehindEqualExpiries) {
  CachedClock clock;
  std::vector<int> fired;
  Recorder a(&fired, 1), b(&fired, 2), c(&fired, 3);
  a.t.set(10, &Recorder::On, &a);
  b.t.set(10, &Recorder::On, &b);
  c.t.set(10, &Recorder::On, &c);
  a.t.set(10, &Recorder::On, &a);
  ASSERT_NE(multiplexer.first_timer(), nullptr);
  clock.advance(10);
  multiplexer.timers_schedule();
  EXPECT_EQ(fired, (std::vector<int>{2, 3, 1}));
}

// The head of the queue is always the earliest pending timer, whatever is
// taken out of the middle.
TEST(TimerHeap, FirstTimerFollowsCancellations) {
  CachedClock clock;
  std::vector<int> fired;
  std::vector<std::unique_ptr<Recorder>> r;
  for (int i = 0; i < 64; ++i) {
    r.emplace_back(new Recorder(&fired, i));
    r.back()->t.set(unsigned(100 + (i * 37) % 64), &Recorder::On, r.back().get());
  }
  for (int i = 0; i < 64; ++i) {
    const TimerEvent* head = multiplexer.first_timer();
    ASSERT_NE(head, nullptr);
    for (const auto& x : r)
      if (x->t.pending()) {
        EXPECT_LE(int32_t(head->expiry() - x->t.pending()->expiry()), 0);
      }
    // Cancel the timer in the middle of what is left.
    std::vector<Recorder*> left;
    for (const auto& x : r)
      if (x->t.is_running()) left.push_back(x.get());
    left[left.size() / 2]->t.reset();
  }
  EXPECT_EQ(multiplexer.first_timer(), nullptr);
  EXPECT_TRUE(fired.empty());
}

TEST(PassClock, OutsideAPassTimersReadTheClock) {
  CachedClock clock(2000, 0);
  EXPECT_FALSE(Mux::in_pass());
  EXPECT_EQ(Mux::pass_milliseconds(), Mux::milliseconds());
  clock.advance(7);
  EXPECT_EQ(Mux::pass_milliseconds(), 2000007u);
}

TEST(PassClock, TheCacheWinsOverThePassReading) {
  Mux::begin_pass(123);
  EXPECT_TRUE(Mux::in_pass());
  EXPECT_EQ(Mux::pass_milliseconds(), 123u);
  {
    CachedClock clock(3000, 0);
    EXPECT_EQ(Mux::pass_milliseconds(), 3000000u);
    EXPECT_EQ(Mux::statistics_microseconds(), Mux::microseconds());
  }
  Mux::end_pass();
  EXPECT_FALSE(Mux::in_pass());
}

TEST(PassClock, TimerSetInAPassCountsFromThePassReading) {
  Mux::begin_pass(5000);
  Recorder r(nullptr, 0);
  r.t.set(250, &Recorder::On, &r);
  ASSERT_NE(r.t.pending(), nullptr);
  EXPECT_EQ(r.t.pending()->expiry(), 5250u);
  r.t.reset();
  Mux::end_pass();
}

TEST(PassClock, StatisticsClockMovesForward) {
  const unsigned a = Mux::statistics_microseconds();
  const unsigned b = Mux::statistics_microseconds();
  EXPECT_LE(int32_t(a - b), 0);
}

namespace {

// Re-arms itself with no delay from its own callback; stops the loop after
// a few rounds.
struct Rearmer {
  Timer t;
  unsigned rounds = 0;
  void On() {
    if (++rounds == 3) {
      multiplexer.terminate();
      return;
    }
    t.set(0, &Rearmer::On, this);
  }
};

}  // namespace

// On the live clock the pass reading stands still: a timer re-armed with no
// delay fires once per pass instead of for ever within one.
TEST(PassClock, ZeroDelayRearmFiresOncePerPass) {
  Capture quiet(std::clog);
  looptest::Pipe p;
  Event keep;  // something to poll, so that the loop does not call it a hang
  struct Sink {
    void On(int, short) {}
  } sink;
  keep.Bind("keep", &Sink::On, &sink);
  keep.Schedule(p.rd, POLLIN);
  Rearmer r;
  r.t.set(0, &Rearmer::On, &r);
  multiplexer.run(false, true);
  EXPECT_EQ(r.rounds, 3u);
  EXPECT_FALSE(Mux::in_pass());
}
