#pragma once
// Helpers of the main-loop tests: a clock the test moves, running the loop
// until a condition holds, pipes, and a capture of a standard stream.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include "foundation/dpc.h"
#include "foundation/event.h"
#include "foundation/multiplexer.h"
#include "foundation/mux_time.h"
#include "foundation/os.h"
#include "foundation/timer.h"

namespace looptest {

// Freezes every clock read at a time the test chooses.
class CachedClock {
public:
  explicit CachedClock(long sec = 1000000, long usec = 0) { Mux::set_cached_time(Mux::timeval(sec, usec)); }
  ~CachedClock() { Mux::clear_cached_time(); }
  void advance(unsigned ms) {
    Mux::timeval t = Mux::g_tv_time;
    Mux::timevaladd(t, Mux::make_from_msec(ms));
    Mux::set_cached_time(t);
  }
};

// Runs the loop until done() holds (true) or about `real_ms` of real time
// went by (false). A never-due tick keeps every poll short, so that done() is
// asked often even while the test clock stands still.
class LoopRunner {
public:
  bool run(std::function<bool()> until, int real_ms = 3000) {
    done = std::move(until);
    met = false;
    deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(real_ms);
    dpc.Bind(this, &LoopRunner::check);
    dpc.Activate();
    tick.set<LoopRunner>(5, &LoopRunner::on_tick, this);
    multiplexer.run(false, true);
    dpc.Deactivate();
    tick.reset();
    return met;
  }

private:
  void check() {
    if (done()) {
      met = true;
      multiplexer.terminate();
    } else if (std::chrono::steady_clock::now() > deadline) {
      multiplexer.terminate();
    }
  }
  void on_tick(Timer*) { tick.set<LoopRunner>(5, &LoopRunner::on_tick, this); }

  Dpc dpc;
  Timer tick;
  std::function<bool()> done;
  std::chrono::steady_clock::time_point deadline;
  bool met = false;
};

inline bool run_until(std::function<bool()> until, int real_ms = 3000) {
  LoopRunner r;
  return r.run(std::move(until), real_ms);
}

// Both ends non-blocking.
struct Pipe {
  Fd rd;
  Fd wr;
  Pipe() {
    int fds[2];
    if (::pipe(fds) == 0) {
      rd = Fd(fds[0]);
      wr = Fd(fds[1]);
      rd.NonBlock();
      wr.NonBlock();
    }
  }
  void put(const std::string& s) { (void)::write(wr.lowlevel_fd(), s.data(), s.size()); }
};

class Capture {
public:
  explicit Capture(std::ostream& s) : stream_(s), old_(s.rdbuf(buf_.rdbuf())) {}
  ~Capture() { stream_.rdbuf(old_); }
  std::string text() const { return buf_.str(); }

private:
  std::ostream& stream_;
  std::ostringstream buf_;
  std::streambuf* old_;
};

// An Event that records what it was called with.
struct Recorder {
  Event ev;
  int calls = 0;
  short last = -1;
  std::string* journal = nullptr;
  std::string tag;

  Recorder(const std::string& name, const Fd& fd, short events, std::string* j = nullptr) : journal(j), tag(name) {
    ev.Bind(name, &Recorder::On, this);
    ev.Schedule(fd, events);
  }
  void On(int, short revents) {
    ++calls;
    last = revents;
    if (journal) *journal += tag;
  }
};

}  // namespace looptest
