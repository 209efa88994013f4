#include "foundation/multiplexer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "foundation/dpc.h"
#include "foundation/event.h"
#include "foundation/timer.h"
#include "loop_test_util.h"

using looptest::CachedClock;
using looptest::Capture;
using looptest::Pipe;

namespace {

// An Event whose callback is a test lambda.
struct Probe {
  Event ev;
  std::function<void(Probe&, short)> fn;
  int calls = 0;
  short last = -1;

  Probe(const std::string& name, const Fd& fd, short events, std::function<void(Probe&, short)> f = nullptr)
      : fn(std::move(f)) {
    ev.Bind(name, &Probe::On, this);
    ev.Schedule(fd, events);
  }
  void On(int, short revents) {
    ++calls;
    last = revents;
    if (fn) fn(*this, revents);
  }
};

struct DpcProbe {
  Dpc dpc;
  std::function<void(int)> fn;
  int calls = 0;
  explicit DpcProbe(std::function<void(int)> f) : fn(std::move(f)) {
    dpc.Bind(this, &DpcProbe::On);
    dpc.Activate();
  }
  void On() { fn(++calls); }
};

struct Stopper {
  Timer t;
  void On() { multiplexer.terminate(); }
};

class Bare : public EventHandler {
public:
  void shedule_event(pollfd& p) override {
    p.fd = -1;
    p.events = 0;
  }
  void svc_event(short) override {}
};

}  // namespace

TEST(Measure, RecordsMinMaxLatestAndCount) {
  CachedClock clock(1000, 0);
  Measure m;
  std::ostringstream fresh;
  fresh << m;
  EXPECT_EQ(fresh.str(), "min=0 max=0 avg=0 counter=0");

  m.begin();
  Mux::set_cached_time(Mux::timeval(1000, 250));
  m.end();
  std::ostringstream one;
  one << m;
  EXPECT_EQ(one.str(), "min=250 max=250 avg=250 counter=1");

  m.begin();
  Mux::set_cached_time(Mux::timeval(1000, 350));
  m.end();
  m.begin();
  Mux::set_cached_time(Mux::timeval(1000, 1350));
  m.end();
  std::ostringstream three;
  three << m;
  EXPECT_EQ(three.str(), "min=100 max=1000 avg=1000 counter=3");
}

TEST(Measure, SurvivesWrapOfMicrosecondCounter) {
  CachedClock clock(4294, 967040);  // 0xFFFFFF00 microseconds
  Measure m;
  m.begin();
  Mux::set_cached_time(Mux::timeval(4294, 967552));
  m.end();
  EXPECT_EQ(m.last(), 512u);
}

TEST(PollEventAsText, NamesSetBitsInOrder) {
  const struct {
    short mask;
    const char* text;
  } cases[] = {
      {0, ""},
      {5, "POLLIN|POLLOUT"},
      {0x38, "POLLERR|POLLHUP|POLLNVAL"},
      {0x7FF, "POLLIN|POLLPRI|POLLOUT|POLLERR|POLLHUP|POLLNVAL|POLLRDNORM|POLLRDBAND|POLLWRNORM|POLLWRBAND|POLLMSG"},
      {0x1000, ""},
      {0x1100, "POLLWRNORM"},
  };
  for (const auto& c : cases) EXPECT_EQ(PollEventAsText(c.mask), c.text) << c.mask;
}

TEST(Multiplexer, DuplicateAttachAndStrayDetachAreReported) {
  Pipe p;
  Probe a("dup", p.rd, POLLIN);
  const unsigned before = multiplexer.handler_count();
  {
    Capture err(std::cerr);
    multiplexer.attach(&a.ev);
    EXPECT_EQ(err.text(), "duplicate multiplexer attach \"dup\" ignored.\n");
  }
  EXPECT_EQ(multiplexer.handler_count(), before);

  Bare bare;
  EXPECT_EQ(bare.event_name(), "unknown");
  EXPECT_FALSE(bare.is_named());
  Capture err(std::cerr);
  multiplexer.detach(&bare);
  EXPECT_EQ(err.text(), "indvalid Multiplexer::detach unknown\n");
}

TEST(Event, RegistrationFollowsTheDescriptor) {
  Event e;
  EXPECT_EQ(e.event_name(), "Unknown");
  EXPECT_TRUE(e.is_named());
  errno = 0;
  EXPECT_EQ(e.Release(), -1);
  EXPECT_EQ(errno, EBADF);

  Pipe p;
  e.Schedule(p.rd, POLLIN);
  EXPECT_TRUE(e.IsActive());
  EXPECT_TRUE(multiplexer.event_exists(&e));
  EXPECT_NE(e.lowlevel_fd(), p.rd.lowlevel_fd());

  e.Schedule(Fd(), POLLIN);
  EXPECT_FALSE(e.IsActive());
  EXPECT_EQ(e.lowlevel_fd(), -1);
  EXPECT_FALSE(multiplexer.event_exists(&e));

  {
    Event gone;
    gone.Schedule(p.rd, POLLIN);
    EXPECT_TRUE(multiplexer.event_exists(&gone));
  }
  EXPECT_EQ(multiplexer.handler_count(), 0u);
}

// Every handler is served after a poll that returned events, also those
// whose own descriptor reported nothing; hits count requested events only.
TEST(Multiplexer, ServesEveryHandlerInAttachOrder) {
  CachedClock clock;
  std::string journal;
  Pipe pa, pb, pc;
  pa.put("x");
  pc.put("x");
  Probe a("a", pa.rd, POLLIN, [&](Probe&, short) { journal += "a"; });
  Probe b("b", pb.rd, POLLIN, [&](Probe&, short) { journal += "b"; });
  Probe c("c", pc.rd, POLLIN, [&](Probe&, short) {
    journal += "c";
    multiplexer.terminate();
  });
  multiplexer.run(false, true);
  EXPECT_EQ(journal, "abc");
  EXPECT_EQ(a.last, POLLIN);
  EXPECT_EQ(b.last, 0);
  EXPECT_EQ(c.last, POLLIN);
  EXPECT_EQ(a.ev.hits(), 1u);
  EXPECT_EQ(b.ev.hits(), 0u);
}

TEST(Multiplexer, UnboundEventIsPolledAndCallsNothing) {
  CachedClock clock;
  Pipe pa, pb;
  pa.put("x");
  Event quiet;
  quiet.Bind<Probe>("quiet", nullptr, nullptr);
  quiet.Schedule(pa.rd, POLLIN);
  Probe stop("stop", pb.rd, POLLIN, [](Probe&, short) { multiplexer.terminate(); });
  multiplexer.run(false, true);
  EXPECT_EQ(quiet.hits(), 1u);
  EXPECT_EQ(stop.calls, 1);
}

TEST(Multiplexer, HandlersDetachingDuringDispatch) {
  CachedClock clock;
  std::string journal;
  Pipe p;
  p.put("x");
  int pass = 0;
  std::unique_ptr<Probe> c;
  std::unique_ptr<Probe> d;
  Probe a("a", p.rd, POLLIN, [&](Probe& self, short) {
    journal += "a";
    self.ev.Release();  // itself
  });
  Probe b("b", p.rd, POLLIN, [&](Probe&, short) {
    journal += "b";
    c.reset();  // destroyed before it is served
    d->ev.Release();
  });
  c.reset(new Probe("c", p.rd, POLLIN, [&](Probe&, short) { journal += "c"; }));
  d.reset(new Probe("d", p.rd, POLLIN, [&](Probe&, short) { journal += "d"; }));
  Probe e("e", p.rd, POLLIN, [&](Probe&, short) {
    journal += "e";
    if (++pass == 2) multiplexer.terminate();
  });
  multiplexer.run(false, true);
  EXPECT_EQ(journal,
            "abe"
            "be");
}

TEST(Multiplexer, HandlerAttachedDuringDispatchIsPolledFromNextPass) {
  CachedClock clock;
  std::string journal;
  Pipe p;
  p.put("x");
  std::unique_ptr<Probe> late;
  Probe a("a", p.rd, POLLIN, [&](Probe&, short) {
    journal += "a";
    if (!late)
      late.reset(new Probe("late", p.rd, POLLIN, [&](Probe&, short) {
        journal += "L";
        multiplexer.terminate();
      }));
  });
  Probe b("b", p.rd, POLLIN, [&](Probe&, short) { journal += "b"; });
  multiplexer.run(false, true);
  EXPECT_EQ(journal,
            "ab"
            "abL");
}

TEST(Multiplexer, HandlerDestroyingItselfInItsCallback) {
  CachedClock clock;
  Pipe p;
  p.put("x");
  std::string journal;
  Probe* self = nullptr;
  self = new Probe("self", p.rd, POLLIN, [&](Probe& me, short) {
    journal += "s";
    EXPECT_EQ(&me, self);
    delete &me;
  });
  Probe after("after", p.rd, POLLIN, [&](Probe&, short) {
    journal += "x";
    multiplexer.terminate();
  });
  multiplexer.run(false, true);
  EXPECT_EQ(journal, "sx");
}

// Stopping half way through a dispatch keeps the unserved handlers polled
// when the loop runs again.
TEST(Multiplexer, StopDuringDispatchKeepsTheRest) {
  CachedClock clock;
  std::string journal;
  Pipe p;
  p.put("x");
  int a_calls = 0;
  Probe a("a", p.rd, POLLIN, [&](Probe&, short) {
    journal += "a";
    if (++a_calls == 1) multiplexer.terminate();
  });
  Probe b("b", p.rd, POLLIN, [&](Probe&, short) {
    journal += "b";
    multiplexer.terminate();
  });
  multiplexer.run(false, true);
  EXPECT_EQ(journal, "a");
  multiplexer.run(false, true);
  EXPECT_EQ(journal,
            "a"
            "ab");
  EXPECT_EQ(multiplexer.handler_count(), 2u);
}

TEST(Multiplexer, ExceptionOutOfAHandlerLeavesEveryHandlerPolled) {
  CachedClock clock;
  std::string journal;
  Pipe p;
  p.put("x");
  int a_calls = 0;
  Probe a("a", p.rd, POLLIN, [&](Probe&, short) {
    journal += "a";
    if (++a_calls == 2) multiplexer.terminate();
  });
  Probe b("b", p.rd, POLLIN, [&](Probe&, short) {
    journal += "b";
    if (journal == "ab") throw std::runtime_error("client failure");
  });
  Probe c("c", p.rd, POLLIN, [&](Probe&, short) {
    journal += "c";
    if (a_calls == 3) multiplexer.terminate();
  });
  EXPECT_THROW(multiplexer.run(false, true), std::runtime_error);
  multiplexer.run(false, true);
  EXPECT_EQ(journal,
            "ab"
            "a");
  multiplexer.run(false, true);
  EXPECT_EQ(journal,
            "ab"
            "a"
            "abc");
  EXPECT_EQ(multiplexer.handler_count(), 3u);
}

// A Dpc in the run just before poll detaches handlers whose poll entries are
// already built: their results reach nobody, and nobody else's shift.
TEST(Multiplexer, PollResultsStayWithTheirHandlersWhenADpcDetaches) {
  CachedClock clock;
  Pipe ready, idle;
  ready.put("x");
  std::vector<std::string> order;
  auto a = std::make_unique<Probe>("a", ready.rd, POLLIN);
  auto b = std::make_unique<Probe>("b", ready.rd, POLLIN);
  auto c = std::make_unique<Probe>("c", idle.rd, POLLIN);
  auto d = std::make_unique<Probe>("d", ready.rd, POLLIN);
  auto e = std::make_unique<Probe>("e", ready.rd, POLLIN, [](Probe&, short) { multiplexer.terminate(); });
  DpcProbe dpc([&](int call) {
    if (call != 2) return;  // the run before poll in the first pass
    b->ev.Release();
    d.reset();
    // Rescheduled: back in the attach list, nothing this pass.
    a->ev.Schedule(idle.rd, POLLIN);
  });
  multiplexer.run(false, true);
  EXPECT_EQ(a->calls, 0);
  EXPECT_EQ(b->calls, 0);
  EXPECT_EQ(c->calls, 1);
  EXPECT_EQ(c->last, 0);
  EXPECT_EQ(e->calls, 1);
  EXPECT_EQ(e->last, POLLIN);
}

TEST(Multiplexer, DpcRunsTwicePerPass) {
  CachedClock clock;
  Pipe p;
  p.put("x");
  DpcProbe dpc([](int) {});
  Probe stop("stop", p.rd, POLLIN, [](Probe&, short) { multiplexer.terminate(); });
  multiplexer.run(false, true);
  EXPECT_EQ(dpc.calls, 2);
}

// A run takes the Dpcs active when it starts (in address order): one taken
// out during the run is skipped even when it comes back in it, and one that
// comes in during the run waits for the next.
TEST(Multiplexer, DpcsChangedDuringARunCountFromTheNext) {
  struct Row {
    std::function<void(int)> act;
    DpcProbe a{[this](int call) { act(call); }};
    DpcProbe b{[](int) {}};
    DpcProbe c{[](int) {}};
  } row;
  std::unique_ptr<DpcProbe> added;
  row.act = [&](int call) {
    if (call != 1) return;
    row.b.dpc.Deactivate();
    row.c.dpc.Deactivate();
    row.c.dpc.Activate();
    added.reset(new DpcProbe([](int) {}));
  };
  multiplexer.execute_dpc();
  EXPECT_EQ(1, row.a.calls);
  EXPECT_EQ(0, row.b.calls);
  EXPECT_EQ(0, row.c.calls);
  EXPECT_EQ(0, added->calls);
  multiplexer.execute_dpc();
  EXPECT_EQ(2, row.a.calls);
  EXPECT_EQ(0, row.b.calls);
  EXPECT_EQ(1, row.c.calls);
  EXPECT_EQ(1, added->calls);
}

// Would wait for ever on the idle pipe if the timer armed by the Dpc before
// poll did not count.
TEST(Multiplexer, TimerArmedByDpcBeforePollCounts) {
  CachedClock clock;
  Pipe idle;
  Probe quiet("quiet", idle.rd, POLLIN);
  Stopper stopper;
  DpcProbe dpc([&](int call) {
    if (call == 2) stopper.t.set(0, &Stopper::On, &stopper);
  });
  multiplexer.run(false, true);
  EXPECT_FALSE(stopper.t.is_running());
  EXPECT_EQ(quiet.calls, 0);
}

TEST(Multiplexer, HandlerAttachedByDpcBeforePollIsNotLeftWaiting) {
  CachedClock clock;
  Pipe idle, ready;
  ready.put("x");
  Probe quiet("quiet", idle.rd, POLLIN);
  std::unique_ptr<Probe> late;
  DpcProbe dpc([&](int call) {
    if (call == 2) late.reset(new Probe("late", ready.rd, POLLIN, [](Probe&, short) { multiplexer.terminate(); }));
  });
  multiplexer.run(false, true);
  ASSERT_TRUE(late);
  EXPECT_EQ(late->calls, 1);
}

TEST(MultiplexerDeathTest, HangWithoutTimersAndDescriptorsAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(multiplexer.run(false, true), "multiplexer: system hang detected!!!");
}

namespace {

// More poll entries than the process may have descriptors.
void run_with_too_few_descriptors() {
  std::vector<std::unique_ptr<Bare>> handlers;
  for (int i = 0; i < 100; ++i) {
    handlers.emplace_back(new Bare);
    handlers.back()->mux_attach();
  }
  rlimit lim;
  lim.rlim_cur = lim.rlim_max = 64;
  setrlimit(RLIMIT_NOFILE, &lim);
  multiplexer.run(false, true);
}

}  // namespace

TEST(MultiplexerDeathTest, PollFailureAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(run_with_too_few_descriptors(), "multiplexer poll failed: Invalid argument");
}

namespace {

struct Ticker {
  Timer t;
  CachedClock* clock;
  int passes = 0;
  int limit;
  Ticker(CachedClock* c, int n) : clock(c), limit(n) { t.set(0, &Ticker::On, this); }
  void On() {
    if (++passes == limit) {
      multiplexer.terminate();
      return;
    }
    t.set(250, &Ticker::On, this);
    clock->advance(250);
  }
};

std::string temp_path(const char* name) { return std::string(::testing::TempDir()) + name + std::to_string(getpid()); }

}  // namespace

// Passes 250 ms apart: the watchdog gets START, a PING in the first pass and
// then at most one per second, and STOP.
TEST(Multiplexer, WatchdogIsPingedAtMostOncePerSecond) {
  const std::string path = temp_path("gw-wd-");
  { std::ofstream(path.c_str()); }
  const std::string old = multiplexer.watchdog_path();
  multiplexer.set_watchdog_path(path);
  {
    CachedClock clock;
    Ticker ticker(&clock, 20);
    multiplexer.run(true, true);
    EXPECT_FALSE(multiplexer.watchdog_open());
  }
  multiplexer.set_watchdog_path(old);
  std::ifstream in(path.c_str());
  std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written,
            "START"
            "PINGPINGPINGPINGPING"
            "STOP");
  unlink(path.c_str());
}

TEST(Multiplexer, RunsOnWithoutWatchdog) {
  const std::string old = multiplexer.watchdog_path();
  multiplexer.set_watchdog_path(temp_path("no-such-dir/gw-wd"));
  CachedClock clock;
  Ticker ticker(&clock, 3);
  {
    Capture err(std::cerr);
    multiplexer.run(true, true);
    EXPECT_EQ(err.text(), "Mux: fail to open watchdog: No such file or directory\n");
  }
  multiplexer.set_watchdog_path(old);
  EXPECT_EQ(ticker.passes, 3);
}

TEST(Multiplexer, DumpListsNamedEvents) {
  CachedClock clock;
  Pipe p;
  p.put("x");
  Probe a("ctrl link", p.rd, POLLIN | POLLOUT, [](Probe&, short) { multiplexer.terminate(); });
  Event unbound;
  unbound.Schedule(p.rd, POLLIN);
  multiplexer.run(false, true);
  std::ostringstream out;
  multiplexer.dump(out);
  const std::string text = out.str();
  EXPECT_NE(text.find("dpc transition measurement (min/max/cur/counter): min="), std::string::npos);
  EXPECT_NE(text.find("event transition measurement (min/max/cur/counter): min="), std::string::npos);
  EXPECT_NE(text.find("timer transition measurement (min/max/cur/counter): min="), std::string::npos);
  EXPECT_NE(text.find("ctrl link"), std::string::npos);
  EXPECT_NE(text.find("POLLIN|POLLOUT"), std::string::npos);
  EXPECT_NE(text.find("unattached"), std::string::npos);
  EXPECT_NE(text.find(" attached "), std::string::npos);
  EXPECT_NE(text.find("min=0 max=0 avg=0 counter=0"), std::string::npos);
  EXPECT_NE(text.find("|" + std::string(20 - 2, ' ') + "name"), std::string::npos);
}

namespace {

struct Plugin : TimerPoolPlugin {
  int32_t value;
  int calls = 0;
  std::function<void()> fn;
  explicit Plugin(int32_t v) : value(v) {}
  int32_t next_timeout() override {
    ++calls;
    if (fn) fn();
    return value;
  }
};

}  // namespace

TEST(Multiplexer, PluginsGiveTheNearestDeadline) {
  Plugin p1(50), p2(-1), p3(20);
  Plugin late(1);
  p1.timerHook();
  p2.timerHook();
  p3.timerHook();
  p1.fn = [&] {
    p3.timerUnhook();
    late.timerHook();
  };
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 50);
  EXPECT_EQ(p3.calls, 0);
  EXPECT_EQ(late.calls, 0);
  p1.fn = nullptr;
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 1);
  EXPECT_EQ(p3.calls, 0);
}
