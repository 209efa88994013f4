#include "foundation/mux_time.h"

#include <algorithm>
#include <cstdio>

namespace Mux {

timeval g_tv_time;
timeval g_tv_clock;

namespace {

int monotonic(timeval& t) {
  timespec ts;
  int rc = ::clock_gettime(CLOCK_MONOTONIC, &ts);
  if (rc == 0) {
    t.tv_sec = ts.tv_sec;
    t.tv_usec = ts.tv_nsec / 1000;
  }
  return rc;
}

// The time the counters run on: cached when set, else the monotonic clock.
timeval counter_time() {
  if (!g_tv_clock.is_zero()) return g_tv_clock;
  if (!g_tv_time.is_zero()) return g_tv_time;
  timeval t;
  monotonic(t);
  return t;
}

uint64_t total_usec(const timeval& t) {
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_usec);
}

}  // namespace

int mux_settimeofday() {
  int rc = ::gettimeofday(&g_tv_time, nullptr);
  monotonic(g_tv_clock);
  return rc;
}

int mux_gettimeofday(timeval& t) {
  if (g_tv_time.is_zero()) return ::gettimeofday(&t, nullptr);
  t = g_tv_time;
  return 0;
}

int gettimeval(timeval& t) {
  mux_gettimeofday(t);
  return 0;
}

void set_cached_time(const timeval& t) {
  g_tv_time = t;
  g_tv_clock = t;
}

void clear_cached_time() { set_cached_time(timeval()); }

unsigned milliseconds() { return static_cast<uint32_t>(total_usec(counter_time()) / 1000u); }

namespace {
bool g_in_pass = false;
uint32_t g_pass_ms = 0;
}  // namespace

bool cached() { return !g_tv_clock.is_zero() || !g_tv_time.is_zero(); }

// A cache set during the pass (a test stepping the clock) wins over the
// pass's reading.
unsigned pass_milliseconds() { return g_in_pass && !cached() ? g_pass_ms : milliseconds(); }

void begin_pass(unsigned ms) {
  g_pass_ms = ms;
  g_in_pass = true;
}

void end_pass() { g_in_pass = false; }

bool in_pass() { return g_in_pass; }

unsigned statistics_microseconds() {
  if (cached()) return microseconds();
  timespec ts;
  if (::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) != 0) return microseconds();
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u);
}

unsigned microseconds() { return static_cast<uint32_t>(total_usec(counter_time())); }

time_t seconds() {
  timeval t;
  mux_gettimeofday(t);
  return t.tv_sec;
}

timeval make_from_usec(unsigned us) { return timeval(us / 1000000u, us % 1000000u); }

timeval make_from_msec(unsigned ms) { return timeval(ms / 1000u, (ms % 1000u) * 1000u); }

void timevaladd(timeval& a, const timeval& b) {
  a.tv_sec += b.tv_sec;
  a.tv_usec += b.tv_usec;
  if (a.tv_usec >= 1000000) {
    a.tv_usec -= 1000000;
    ++a.tv_sec;
  }
}

void timevalsub(timeval& a, const timeval& b) {
  long usec = a.tv_usec - b.tv_usec + 1000000;
  a.tv_sec = a.tv_sec - b.tv_sec - 1 + usec / 1000000;
  a.tv_usec = usec % 1000000;
}

void timevaladd2(const timeval& a, const timeval& b, timeval& r) {
  r = a;
  timevaladd(r, b);
}

void timevalsub2(const timeval& a, const timeval& b, timeval& r) {
  r = a;
  timevalsub(r, b);
}

void timevalset(timeval& t, unsigned long long ms) {
  t.tv_sec = static_cast<time_t>(ms / 1000u);
  t.tv_usec = static_cast<suseconds_t>((ms % 1000u) * 1000u);
}

int64_t timevaldiff(const timeval& a, const timeval& b) {
  if (b.tv_sec < a.tv_sec || (b.tv_sec == a.tv_sec && b.tv_usec < a.tv_usec)) return 0;
  return (static_cast<int64_t>(b.tv_sec) - a.tv_sec) * 1000 + (static_cast<int64_t>(b.tv_usec) - a.tv_usec) / 1000;
}

int timevalcompare(const timeval& a, const timeval& b) {
  if (a.tv_sec != b.tv_sec) return a.tv_sec < b.tv_sec ? -1 : 1;
  if (a.tv_usec != b.tv_usec) return a.tv_usec < b.tv_usec ? -1 : 1;
  return 0;
}

std::string timevaltostring(const timeval& t) {
  char date[64] = "";
  time_t sec = t.tv_sec;
  struct tm tm;
  if (::localtime_r(&sec, &tm)) ::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tm);
  char out[96];
  std::snprintf(out, sizeof out, "%s.%06ld", date, static_cast<long>(t.tv_usec));
  return out;
}

bool Set::add(int fd) {
  if (fd < 0 || fd >= FD_SETSIZE) return false;
  FD_SET(fd, &set_);
  if (fd > max_) max_ = fd;
  return true;
}

void Set::remove(int fd) {
  if (fd < 0 || fd >= FD_SETSIZE) return;
  FD_CLR(fd, &set_);
  while (max_ >= 0 && !FD_ISSET(max_, &set_)) --max_;
}

bool Set::has(int fd) const { return fd >= 0 && fd <= max_ && FD_ISSET(fd, &set_); }

void Set::clear() {
  FD_ZERO(&set_);
  max_ = -1;
}

int max_fd(const Set& a, const Set& b, const Set& c) { return std::max(max_fd(a, b), c.max()); }

int max_fd(const Set& a, const Set& b) { return std::max(a.max(), b.max()); }

int select(Set& r, Set& w, Set& e, timeval& t) { return ::select(max_fd(r, w, e) + 1, r.get(), w.get(), e.get(), &t); }

int select(Set& r, Set& w, Set& e) { return ::select(max_fd(r, w, e) + 1, r.get(), w.get(), e.get(), nullptr); }

int select(Set& r, Set& w) { return ::select(max_fd(r, w) + 1, r.get(), w.get(), nullptr, nullptr); }

int select(Set& r) { return ::select(r.max() + 1, r.get(), nullptr, nullptr, nullptr); }

int select_rd(Set& r, timeval& t) { return ::select(r.max() + 1, r.get(), nullptr, nullptr, &t); }

int select_wr(Set& w, timeval& t) { return ::select(w.max() + 1, nullptr, w.get(), nullptr, &t); }

bool timeval_timer::is_expired(const timeval& now) const {
  if (period_ < 1) return false;
  return timevaldiff(start_, now) > period_;
}

void timeval_timer::inc() {
  if (period_ < 1) return;
  timeval p;
  timevalset(p, static_cast<unsigned long long>(period_));
  timevaladd(start_, p);
}

}  // namespace Mux
