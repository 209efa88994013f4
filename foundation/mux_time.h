#pragma once
// The daemon's time base.
//
// Timers run on milliseconds(), a monotonic counter cut to 32 bits: compare
// two readings only by their difference taken as signed 32-bit. A step of the
// wall clock does not move it. seconds(), mux_gettimeofday() and
// timevaltostring() stay on the wall clock.
//
// Cached time: while g_tv_time is non-zero every clock read returns the cached
// value instead of the live clock. The main loop fills it once per pass when
// it runs without its live-clock flag; tests set it (set_cached_time) to drive
// timers without sleeping.
#include <sys/select.h>
#include <sys/time.h>

#include <cstdint>
#include <ctime>
#include <string>

namespace Mux {

struct timeval : ::timeval {
  timeval() {
    tv_sec = 0;
    tv_usec = 0;
  }
  timeval(long sec, long usec) {
    tv_sec = sec;
    tv_usec = usec;
  }
  bool is_zero() const { return tv_sec == 0 && tv_usec == 0; }
};

// Cached wall-clock time; zero means live time.
extern timeval g_tv_time;
// Cached monotonic time, filled by mux_settimeofday() together with
// g_tv_time. When it is zero while g_tv_time is set, the counters follow
// g_tv_time.
extern timeval g_tv_clock;

// Snapshots both clocks into the cache; returns gettimeofday's result.
int mux_settimeofday();
// Cached wall time when set, live time otherwise.
int mux_gettimeofday(timeval& t);
int gettimeval(timeval& t);

// Sets both caches to t (t zero returns to live time).
void set_cached_time(const timeval& t);
void clear_cached_time();

// Monotonic milliseconds, low 32 bits; wraps every ~49.7 days.
unsigned milliseconds();
// milliseconds() as the main loop read it for the pass it is in; the live
// or cached reading outside a pass. Timers count from it, so that setting
// one costs no clock read.
unsigned pass_milliseconds();
// Called by the main loop with each pass's reading; end_pass() when it stops.
void begin_pass(unsigned ms);
void end_pass();
bool in_pass();
// Whether the counters run on the cache (tests, or a loop without its live
// clock) rather than on the clock.
bool cached();
// Microseconds for statistics: the cache when set, else a coarse clock that
// costs a memory read, exact to the kernel's tick.
unsigned statistics_microseconds();
// Monotonic microseconds, low 32 bits; wraps every ~71.6 minutes.
unsigned microseconds();
// Wall-clock seconds.
time_t seconds();

timeval make_from_usec(unsigned us);
timeval make_from_msec(unsigned ms);

// Microsecond fields are expected in 0..999999.
void timevaladd(timeval& a, const timeval& b);
void timevalsub(timeval& a, const timeval& b);
void timevaladd2(const timeval& a, const timeval& b, timeval& r);
void timevalsub2(const timeval& a, const timeval& b, timeval& r);
void timevalset(timeval& t, unsigned long long ms);
// b - a in milliseconds; 0 when b is earlier than a.
int64_t timevaldiff(const timeval& a, const timeval& b);
int timevalcompare(const timeval& a, const timeval& b);
// Local time, "%Y-%m-%d %H:%M:%S.uuuuuu".
std::string timevaltostring(const timeval& t);

// An fd_set together with its highest descriptor (negative when empty).
class Set {
public:
  Set() { clear(); }
  // False for a descriptor that an fd_set cannot hold.
  bool add(int fd);
  void remove(int fd);
  bool has(int fd) const;
  void clear();
  int max() const { return max_; }
  bool empty() const { return max_ < 0; }
  // Null for an empty set, as select() wants it.
  fd_set* get() { return max_ < 0 ? nullptr : &set_; }

private:
  fd_set set_;
  int max_;
};

int max_fd(const Set& a, const Set& b, const Set& c);
int max_fd(const Set& a, const Set& b);

int select(Set& r, Set& w, Set& e, timeval& t);
int select(Set& r, Set& w, Set& e);
int select(Set& r, Set& w);
int select(Set& r);
int select_rd(Set& r, timeval& t);
int select_wr(Set& w, timeval& t);

// A period measured from a start time.
class timeval_timer {
public:
  void init(const timeval& start, int period_ms) {
    start_ = start;
    period_ = period_ms;
  }
  void init_now(const timeval& start) { start_ = start; }
  // Never expires with a period below 1 ms.
  bool is_expired(const timeval& now) const;
  void inc();
  const timeval& start() const { return start_; }
  int period() const { return period_; }

private:
  timeval start_;
  int period_ = 0;
};

}  // namespace Mux
