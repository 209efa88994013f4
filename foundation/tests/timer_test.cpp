#include "foundation/timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "foundation/dpc.h"
#include "loop_test_util.h"

using looptest::CachedClock;
using looptest::Capture;

// Every allocation of this test binary is counted: all the forms that pair
// with the delete below are replaced. Kept out of line: inlined, the
// compiler would take malloc and free for a mismatch of new and delete.
namespace {
unsigned long allocations = 0;
__attribute__((noinline)) void* counted(std::size_t n) noexcept {
  ++allocations;
  return std::malloc(n ? n : 1);
}
}  // namespace

__attribute__((noinline)) void* operator new(std::size_t n) {
  if (void* p = counted(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return counted(n); }
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { ::operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { ::operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { ::operator delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { ::operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { ::operator delete(p); }

namespace {

// Records the order in which its timers fire.
struct Client {
  std::string* journal;
  std::string tag;
  Timer t;
  Client(std::string* j, std::string name) : journal(j), tag(std::move(name)) {}
  void On() { *journal += tag; }
  void OnWithTimer(Timer* timer) {
    EXPECT_EQ(timer, &t);
    *journal += tag;
  }
};

}  // namespace

TEST(Timer, FiresInExpiryOrderAndEqualExpiriesInSettingOrder) {
  CachedClock clock;
  std::string journal;
  Client a(&journal, "a"), b(&journal, "b"), c(&journal, "c"), d(&journal, "d");
  a.t.set(10, &Client::On, &a);
  b.t.set(20, &Client::On, &b);
  c.t.set(20, &Client::On, &c);
  d.t.set(15, &Client::On, &d);
  EXPECT_EQ(multiplexer.timers_schedule(), 10);
  EXPECT_EQ(journal, "");
  clock.advance(15);
  EXPECT_EQ(multiplexer.timers_schedule(), 5);
  EXPECT_EQ(journal, "ad");
  clock.advance(5);
  EXPECT_EQ(multiplexer.timers_schedule(), 0);
  EXPECT_EQ(journal, "adbc");
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

// 4294967.280 s is 0xFFFFFFF0 ms: expiries past the wrap still sort and fire
// after those before it.
TEST(Timer, OrderSurvivesWrapOfMillisecondCounter) {
  CachedClock clock(4294967, 280000);
  ASSERT_EQ(Mux::milliseconds(), 0xFFFFFFF0u);
  std::string journal;
  Client late(&journal, "L"), early(&journal, "E");
  late.t.set(0x20, &Client::On, &late);
  early.t.set(0x08, &Client::On, &early);
  EXPECT_EQ(late.t.pending()->expiry(), 0x10u);
  EXPECT_EQ(multiplexer.timers_schedule(), 8);
  clock.advance(0x10);
  multiplexer.timers_schedule();
  EXPECT_EQ(journal, "E");
  clock.advance(0x10);
  multiplexer.timers_schedule();
  EXPECT_EQ(journal, "EL");
}

// Placed from either end of the queue, equal expiries still fire in the
// order they were set.
TEST(Timer, OrderHoldsWhereverATimerIsInserted) {
  CachedClock clock;
  std::string journal;
  const struct {
    const char* tag;
    unsigned ms;
  } plan[] = {{"a", 1000}, {"b", 9000}, {"c", 2000}, {"d", 1000}, {"e", 2000}, {"f", 8000},
              {"g", 9000}, {"h", 500},  {"i", 8000}, {"j", 500},  {"k", 9500}, {"l", 2000}};
  std::vector<std::unique_ptr<Client>> clients;
  for (const auto& p : plan) {
    clients.emplace_back(new Client(&journal, p.tag));
    clients.back()->t.set(p.ms, &Client::On, clients.back().get());
  }
  clock.advance(10000);
  multiplexer.timers_schedule();
  EXPECT_EQ(journal, "hjadcelfibgk");
}

TEST(Timer, SettingAnArmedTimerReplacesTheEarlierExpiry) {
  CachedClock clock;
  std::string journal;
  Client a(&journal, "a"), b(&journal, "b");
  a.t.set(10, &Client::On, &a);
  a.t.set(30, &Client::OnWithTimer, &a);
  b.t.set(20, &Client::On, &b);
  EXPECT_EQ(multiplexer.timer_count(), 2u);
  clock.advance(25);
  multiplexer.timers_schedule();
  EXPECT_EQ(journal, "b");
  clock.advance(5);
  multiplexer.timers_schedule();
  EXPECT_EQ(journal, "ba");
}

TEST(Timer, ResetAndDestructionCancel) {
  CachedClock clock;
  std::string journal;
  Client a(&journal, "a");
  {
    Client gone(&journal, "g");
    gone.t.set(5, &Client::On, &gone);
    a.t.set(5, &Client::On, &a);
    a.t.reset();
    EXPECT_FALSE(a.t.is_running());
    a.t.reset();
    EXPECT_EQ(multiplexer.timer_count(), 1u);
  }
  EXPECT_EQ(multiplexer.timer_count(), 0u);
  clock.advance(10);
  multiplexer.timers_schedule();
  EXPECT_EQ(journal, "");
}

namespace {

// A periodic client: re-arms from its own callback.
struct Periodic {
  Timer t;
  int fired = 0;
  bool running_inside = true;
  void On() {
    running_inside = t.is_running();
    ++fired;
    t.set(100, &Periodic::On, this);
  }
};

// Destroys the object that holds the firing Timer, and another one.
struct Doomed {
  Timer t;
  std::unique_ptr<Doomed>* self = nullptr;
  std::unique_ptr<Doomed>* other = nullptr;
  int* fired = nullptr;
  void On() {
    ++*fired;
    if (other) other->reset();
    self->reset();
  }
};

}  // namespace

TEST(Timer, CallbackReArmsItsOwnTimer) {
  CachedClock clock;
  Periodic p;
  p.t.set(100, &Periodic::On, &p);
  for (int i = 0; i < 3; ++i) {
    clock.advance(100);
    multiplexer.timers_schedule();
  }
  EXPECT_EQ(p.fired, 3);
  EXPECT_FALSE(p.running_inside);
  EXPECT_TRUE(p.t.is_running());
  EXPECT_EQ(multiplexer.timer_count(), 1u);
}

TEST(Timer, CallbackDestroysTheOwnerOfItsTimerAndADueNeighbour) {
  CachedClock clock;
  int fired = 0;
  auto first = std::make_unique<Doomed>();
  auto second = std::make_unique<Doomed>();
  first->self = &first;
  first->other = &second;
  first->fired = &fired;
  second->self = &second;
  second->fired = &fired;
  first->t.set(10, &Doomed::On, first.get());
  second->t.set(10, &Doomed::On, second.get());
  clock.advance(10);
  multiplexer.timers_schedule();
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(first);
  EXPECT_FALSE(second);
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

namespace {

struct ZeroChain {
  Timer t;
  int fired = 0;
  void On() {
    if (++fired < 3) t.set(0, &ZeroChain::On, this);
  }
};

}  // namespace

TEST(Timer, ZeroDelaySetInsideFireFiresInTheSameSchedule) {
  CachedClock clock;
  ZeroChain z;
  z.t.set(0, &ZeroChain::On, &z);
  EXPECT_EQ(multiplexer.timers_schedule(), 0);
  EXPECT_EQ(z.fired, 3);
}

// Only the timer beyond the limit moves to one second from now, with the
// runtime-error report; the other timers keep their expiries.
TEST(Timer, WaitBeyondTwoHoursIsReportedAndOnlyThatTimerClamped) {
  CachedClock clock;
  const unsigned now = Mux::milliseconds();
  std::string journal;
  Client near(&journal, "n"), far(&journal, "f"), farther(&journal, "F");
  far.t.set(9000000, &Client::On, &far);
  farther.t.set(10000000, &Client::On, &farther);
  {
    Capture err(std::cerr);
    EXPECT_EQ(multiplexer.timers_schedule(), 1000);
    EXPECT_EQ(
        err.text(),
        "******** RUNTIME ERROR CONDITION *************Multiplexer::timers_schedule() invalid wait time detected!\n"
        "now = " +
            std::to_string(now) + "\nfirst = " + std::to_string(now + 9000000) + "\ncount = 2\n");
  }
  EXPECT_EQ(far.t.pending()->expiry(), now + 1000);
  EXPECT_EQ(farther.t.pending()->expiry(), now + 10000000);
  near.t.set(500, &Client::On, &near);
  EXPECT_EQ(multiplexer.timers_schedule(), 500);
  clock.advance(1000);
  {
    Capture err(std::cerr);
    EXPECT_EQ(multiplexer.timers_schedule(), 1000);
    EXPECT_EQ(journal, "nf");
    EXPECT_NE(err.text().find("count = 1\n"), std::string::npos);
  }
  clock.advance(1000);
  multiplexer.timers_schedule();
  EXPECT_EQ(journal, "nfF");
}

TEST(Timer, EmptyQueueWaitsZero) {
  CachedClock clock;
  EXPECT_EQ(multiplexer.timers_schedule(), 0);
}

namespace {

struct Stats {
  static const TimerSpec<Stats> TUpdatespec;
  TimerSpec<Stats>::SpecTimer<TUpdatespec> update;
  int runs = 0;
  Stats() { update.set(this); }
  void OnUpdateTimer() {
    update.set(this);
    ++runs;
  }
};
const TimerSpec<Stats> Stats::TUpdatespec = {&Stats::OnUpdateTimer, 3000};

}  // namespace

TEST(Timer, SpecTimerRearmsWithItsFixedDelay) {
  CachedClock clock;
  Stats s;
  EXPECT_EQ(s.update.pending()->expiry(), Mux::milliseconds() + 3000);
  clock.advance(2999);
  multiplexer.timers_schedule();
  EXPECT_EQ(s.runs, 0);
  clock.advance(1);
  multiplexer.timers_schedule();
  clock.advance(3000);
  multiplexer.timers_schedule();
  EXPECT_EQ(s.runs, 2);
  EXPECT_TRUE(s.update.is_running());
}

namespace {

int plain_fired = 0;
void plain() { ++plain_fired; }

}  // namespace

TEST(Timer, PlainFunctionTimerCallsItsFunctionOnce) {
  CachedClock clock;
  Timer t;
  t.set(5, &plain);
  clock.advance(5);
  multiplexer.timers_schedule();
  multiplexer.timers_schedule();
  EXPECT_EQ(plain_fired, 1);
  EXPECT_FALSE(t.is_running());
}

namespace {

struct Quiet {
  Timer t;
  int fired = 0;
  void On() { ++fired; }
  void OnWithTimer(Timer*) { ++fired; }
};

// Destroys the object that holds its Timer.
struct Gone {
  Timer t;
  void On();
};
std::optional<Gone> gone;
void Gone::On() { gone.reset(); }

}  // namespace

// Once the loop's queue has grown, timers neither allocate nor free.
TEST(Timer, SetResetAndFireAllocateNothing) {
  CachedClock clock;
  Quiet q;
  Periodic p;
  ZeroChain z;
  Stats s;  // re-arms its SpecTimer from the callback
  const struct {
    const char* what;
    std::function<void()> run;
  } cases[] = {
      {"set and reset", [&] { q.t.set(10, &Quiet::On, &q), q.t.reset(); }},
      {"set a running timer", [&] { q.t.set(10, &Quiet::On, &q), q.t.set(20, &Quiet::OnWithTimer, &q), q.t.reset(); }},
      {"fire", [&] { q.t.set(5, &Quiet::On, &q), clock.advance(5), multiplexer.timers_schedule(); }},
      {"fire a plain function", [&] { q.t.set(5, &plain), clock.advance(5), multiplexer.timers_schedule(); }},
      {"re-arm from the callback", [&] { p.t.set(100, &Periodic::On, &p), clock.advance(100), multiplexer.timers_schedule(); }},
      {"zero delay from the callback", [&] { z.fired = 0, z.t.set(0, &ZeroChain::On, &z), multiplexer.timers_schedule(); }},
      {"spec timer", [&] { clock.advance(3000), multiplexer.timers_schedule(); }},
      {"destroy from the callback",
       [&] { gone.emplace(), gone->t.set(10, &Gone::On, &*gone), clock.advance(10), multiplexer.timers_schedule(); }},
  };
  for (const auto& c : cases) {
    c.run();  // lets the queue grow
    const unsigned long before = allocations;
    c.run();
    EXPECT_EQ(allocations, before) << c.what;
  }
  p.t.reset();
  EXPECT_EQ(q.fired, 2);
  EXPECT_GE(p.fired, 2);
  EXPECT_EQ(z.fired, 3);
  EXPECT_EQ(s.runs, 2);
  EXPECT_FALSE(gone);
}

namespace {

struct DpcClient {
  Dpc dpc;
  std::string* journal;
  char tag;
  std::function<void()> fn;
  DpcClient() : journal(nullptr), tag('?') { dpc.Bind(this, &DpcClient::On); }
  void On() {
    *journal += tag;
    if (fn) fn();
  }
};

struct CountingHandler : DpcHandler {
  int* deleted;
  int* invoked;
  CountingHandler(int* d, int* i) : deleted(d), invoked(i) {}
  ~CountingHandler() override { ++*deleted; }
  void Invoke() override { ++*invoked; }
};

}  // namespace

TEST(Dpc, RunsInAddressOrderOncePerRunWhileActive) {
  std::string journal;
  DpcClient d[3];
  for (int i = 0; i < 3; ++i) {
    d[i].journal = &journal;
    d[i].tag = static_cast<char>('0' + i);
  }
  d[2].dpc.Activate();
  d[0].dpc.Activate();
  d[2].dpc.Activate();
  d[1].dpc.Activate();
  EXPECT_EQ(multiplexer.dpc_count(), 3u);
  multiplexer.execute_dpc();
  multiplexer.execute_dpc();
  EXPECT_EQ(journal, "012012");
  d[1].dpc.Deactivate();
  multiplexer.execute_dpc();
  EXPECT_EQ(journal,
            "012012"
            "02");
}

TEST(Dpc, ChangesDuringARun) {
  std::string journal;
  auto d = std::make_unique<DpcClient[]>(4);
  for (int i = 0; i < 4; ++i) {
    d[i].journal = &journal;
    d[i].tag = static_cast<char>('0' + i);
  }
  d[0].fn = [&] {
    d[1].dpc.Deactivate();  // not called later in this run
    d[3].dpc.Activate();    // not in this run's copy
  };
  d[2].fn = [&] { d[2].dpc.Deactivate(); };  // one-shot
  d[0].dpc.Activate();
  d[1].dpc.Activate();
  d[2].dpc.Activate();
  multiplexer.execute_dpc();
  EXPECT_EQ(journal, "02");
  d[0].fn = nullptr;
  multiplexer.execute_dpc();
  EXPECT_EQ(journal,
            "02"
            "03");
  d[0].dpc.Deactivate();
  d[3].dpc.Deactivate();
  EXPECT_EQ(multiplexer.dpc_count(), 0u);
}

TEST(Dpc, DestroyedDuringARun) {
  std::string journal;
  auto first = std::make_unique<DpcClient>();
  auto second = std::make_unique<DpcClient>();
  auto third = std::make_unique<DpcClient>();
  DpcClient* byAddress[3] = {first.get(), second.get(), third.get()};
  std::sort(byAddress, byAddress + 3);
  std::unique_ptr<DpcClient>* owner[3];
  for (int i = 0; i < 3; ++i) {
    owner[i] = byAddress[i] == first.get() ? &first : byAddress[i] == second.get() ? &second : &third;
    byAddress[i]->journal = &journal;
    byAddress[i]->tag = static_cast<char>('0' + i);
    byAddress[i]->dpc.Activate();
  }
  // The lowest destroys itself and the highest; the middle one still runs.
  byAddress[0]->fn = [&] {
    owner[2]->reset();
    owner[0]->reset();
  };
  multiplexer.execute_dpc();
  EXPECT_EQ(journal, "01");
  EXPECT_EQ(multiplexer.dpc_count(), 1u);
}

TEST(Dpc, RebindingDeletesTheEarlierHandlerOnce) {
  int deleted = 0, invoked = 0;
  {
    Dpc d;
    d.Bind(new CountingHandler(&deleted, &invoked));
    d.Activate();
    multiplexer.execute_dpc();
    d.Bind(new CountingHandler(&deleted, &invoked));
    EXPECT_EQ(deleted, 1);
    d.Bind(&plain);
    EXPECT_EQ(deleted, 2);
    plain_fired = 0;
    multiplexer.execute_dpc();
    EXPECT_EQ(plain_fired, 1);
  }
  EXPECT_EQ(invoked, 1);
  EXPECT_EQ(multiplexer.dpc_count(), 0u);
}

namespace {

struct CountingEventHandler : Event::Handler {
  int* deleted;
  explicit CountingEventHandler(int* d) : deleted(d) {}
  ~CountingEventHandler() override { ++*deleted; }
  void Invoke(int, short) override {}
};

}  // namespace

TEST(Event, RebindingDeletesTheEarlierHandlerOnce) {
  int deleted = 0;
  {
    Event e;
    e.Bind(new CountingEventHandler(&deleted));
    e.Bind(new CountingEventHandler(&deleted));
    EXPECT_EQ(deleted, 1);
    e.UnBind();
    EXPECT_EQ(deleted, 2);
    EXPECT_FALSE(e.is_bound());
    e.Bind(new CountingEventHandler(&deleted));
  }
  EXPECT_EQ(deleted, 3);
}
