#include "foundation/multiplexer.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <new>

#include "foundation/dpc.h"
#include "foundation/event.h"
#include "foundation/ext_text.h"
#include "foundation/log_limit.h"
#include "foundation/mux_time.h"
#include "foundation/os.h"
#include "foundation/sys_paths.h"
#include "foundation/timer.h"
#include "foundation/version.h"

namespace {

// Storage of the global multiplexer, constant-initialized so that the
// reference below is valid before any dynamic initialization runs.
union MuxStorage {
  char none;
  Multiplexer mux;
  constexpr MuxStorage() : none() {}
  ~MuxStorage() {}
};

unsigned initCount;
MuxStorage muxStorage;

const int kForever = 0x7FFFFFFF;

void fire_nothing(TimerEvent*) {}

// Holds the heap place of the timer being fired. A timer set from the
// callback, most often the firing one again, takes over that place: one
// pass down the heap instead of one out and one in.
TimerEvent stand_in(&fire_nothing);

}  // namespace

Multiplexer& multiplexer = muxStorage.mux;

Multiplexer::Init::Init() {
  if (initCount++ == 0) new (&muxStorage.mux) Multiplexer();
}

Multiplexer::Init::~Init() {
  if (--initCount == 0) muxStorage.mux.~Multiplexer();
}

std::string PollEventAsText(short events) {
  static const struct {
    short bit;
    const char* text;
  } names[] = {
      {POLLIN, "|POLLIN"},         {POLLPRI, "|POLLPRI"},       {POLLOUT, "|POLLOUT"},
      {POLLERR, "|POLLERR"},       {POLLHUP, "|POLLHUP"},       {POLLNVAL, "|POLLNVAL"},
      {POLLRDNORM, "|POLLRDNORM"}, {POLLRDBAND, "|POLLRDBAND"}, {POLLWRNORM, "|POLLWRNORM"},
      {POLLWRBAND, "|POLLWRBAND"}, {POLLMSG, "|POLLMSG"},
  };
  std::string text;
  for (const auto& n : names)
    if (events & n.bit) text += n.text;
  if (!text.empty()) text.erase(0, 1);
  return text;
}

EventHandler::~EventHandler() {
  if (attached_) multiplexer.detach(this);
}

std::string EventHandler::event_name() const { return "unknown"; }

bool EventHandler::is_named() const { return false; }

void EventHandler::mux_attach() {
  if (attached_) return;
  multiplexer.attach(this);
  attached_ = true;
}

void EventHandler::mux_detach() {
  if (!attached_) return;
  multiplexer.detach(this);
  attached_ = false;
}

void TimerPoolPlugin::timerHook() {
  if (hooked_) return;
  multiplexer.hook(this);
  hooked_ = true;
}

void TimerPoolPlugin::timerUnhook() {
  if (!hooked_) return;
  multiplexer.unhook(this);
  hooked_ = false;
}

class Multiplexer::TimerPollGuard : public Multiplexer::TimerPollNotify {
public:
  TimerPollGuard(Multiplexer& mux, std::list<TimerPoolPlugin*>& plugins) : mux_(mux), plugins_(plugins) {
    mux_.poll_guard_ = this;
  }
  ~TimerPollGuard() override { mux_.poll_guard_ = nullptr; }

  int schedule() {
    int result = kForever;
    pending_.swap(plugins_);
    while (!pending_.empty()) {
      TimerPoolPlugin* p = pending_.front();
      pending_.pop_front();
      plugins_.push_back(p);
      int32_t t = p->next_timeout();
      if (t >= 0 && t < result) result = t;
    }
    return result;
  }

  void removeTimerPoolPlugin(TimerPoolPlugin* p) override {
    plugins_.remove(p);
    pending_.remove(p);
  }

private:
  Multiplexer& mux_;
  std::list<TimerPoolPlugin*>& plugins_;
  std::list<TimerPoolPlugin*> pending_;
};

Multiplexer::Multiplexer() : watchdog_path_(SysPaths::resolve(SysPaths::kWatchdog)) {}

Multiplexer::~Multiplexer() {
  if (watchdog_ >= 0) ::close(watchdog_);
}

void Multiplexer::attach(EventHandler* h) {
  if (event_exists(h)) {
    std::cerr << "duplicate multiplexer attach " << std::flush;
    std::cerr << '"' << h->event_name() << '"' << " ignored." << std::endl;
    return;
  }
  attach_.push_back(h);
  h->mux_list_ = &attach_;
}

void Multiplexer::detach(EventHandler* h) {
  if (!event_exists(h)) {
    std::cerr << "indvalid Multiplexer::detach " << std::flush;
    std::cerr << h->event_name() << std::endl;
    return;
  }
  unlink_handler(h);
}

bool Multiplexer::event_exists(EventHandler* h) const {
  return h->mux_list_ == &attach_ || h->mux_list_ == &lists_[0] || h->mux_list_ == &lists_[1];
}

void Multiplexer::unlink_handler(EventHandler* h) {
  h->mux_list_->remove(h);
  h->mux_list_ = nullptr;
  // The poll entry built from this handler must not reach anybody.
  int i = h->poll_index_;
  h->poll_index_ = -1;
  if (i >= 0 && static_cast<size_t>(i) < poll_owners_.size() && poll_owners_[i] == h) {
    poll_owners_[i] = nullptr;
    poll_set_[i].fd = -1;
    poll_set_[i].revents = 0;
    --live_entries_;
  }
}

inline bool Multiplexer::earlier(const TimerSlot& a, const TimerSlot& b) {
  const int32_t d = static_cast<int32_t>(a.expiry - b.expiry);
  return d < 0 || (d == 0 && a.event->sequence_ < b.event->sequence_);
}

// Equal expiries are rare among siblings: the choice by expiry alone runs
// without branches the processor would guess wrong half of the time.
inline size_t Multiplexer::earliest_child(size_t first, size_t end) const {
  size_t best = first;
  for (size_t c = first + 1; c < end; ++c) {
    const int32_t d = static_cast<int32_t>(timers_[c].expiry - timers_[best].expiry);
    if (__builtin_expect(d == 0, 0)) {
      if (timers_[c].event->sequence_ < timers_[best].event->sequence_) best = c;
    } else {
      best = d < 0 ? c : best;
    }
  }
  return best;
}

inline void Multiplexer::heap_place(const TimerSlot& s, size_t i) {
  timers_[i] = s;
  s.event->heap_index_ = static_cast<uint32_t>(i);
}

inline void Multiplexer::heap_up(size_t i) {
  const TimerSlot s = timers_[i];
  while (i > 0) {
    const size_t parent = (i - 1) / 4;
    if (!earlier(s, timers_[parent])) break;
    heap_place(timers_[parent], i);
    i = parent;
  }
  heap_place(s, i);
}

void Multiplexer::heap_down(size_t i) {
  const TimerSlot s = timers_[i];
  const size_t n = timers_.size();
  for (;;) {
    const size_t first = 4 * i + 1;
    if (first >= n) break;
    const size_t end = first + 4 < n ? first + 4 : n;
    const size_t best = earliest_child(first, end);
    if (!earlier(timers_[best], s)) break;
    heap_place(timers_[best], i);
    i = best;
  }
  heap_place(s, i);
}

void Multiplexer::heap_remove(TimerEvent* t) {
  const size_t i = t->heap_index_;
  const TimerSlot last = timers_.back();
  timers_.pop_back();
  if (last.event == t) return;
  timers_[i] = last;
  if (i > 0 && earlier(last, timers_[(i - 1) / 4]))
    heap_up(i);
  else
    heap_down(i);
}

// The head leaves a hole that sinks along the earlier children to the
// bottom, where the last slot fills it: the last slot belongs near the
// bottom, so this saves comparing it on every level on the way down.
TimerEvent* Multiplexer::heap_pop_front() {
  TimerEvent* head = timers_.front().event;
  const TimerSlot last = timers_.back();
  timers_.pop_back();
  const size_t n = timers_.size();
  if (n == 0) return head;
  size_t i = 0;
  for (;;) {
    const size_t first = 4 * i + 1;
    if (first >= n) break;
    const size_t end = first + 4 < n ? first + 4 : n;
    const size_t best = earliest_child(first, end);
    heap_place(timers_[best], i);
    i = best;
  }
  timers_[i] = last;
  heap_up(i);
  return head;
}

TimerEvent* Multiplexer::next_timer() const {
  TimerEvent* h = timers_.empty() ? nullptr : timers_.front().event;
  TimerEvent* d = due_head_;
  if (!d) return h;
  if (!h) return d;
  const int32_t diff = static_cast<int32_t>(d->expiry_ - h->expiry_);
  return diff < 0 || (diff == 0 && d->sequence_ < h->sequence_) ? d : h;
}

unsigned Multiplexer::timer_count() const {
  return static_cast<unsigned>(timers_.size()) + due_count_ - (stand_in.queue_ == TimerEvent::kHeap ? 1 : 0);
}

void Multiplexer::unqueue(TimerEvent* t) {
  if (t->queue_ == TimerEvent::kHeap) {
    if (t->heap_index_ == 0)
      heap_pop_front();
    else
      heap_remove(t);
  } else {
    (t->due_prev_ ? t->due_prev_->due_next_ : due_head_) = t->due_next_;
    (t->due_next_ ? t->due_next_->due_prev_ : due_tail_) = t->due_prev_;
    t->due_prev_ = t->due_next_ = nullptr;
    --due_count_;
  }
  t->queue_ = TimerEvent::kNone;
}

// A timer set again ranks behind those already due at the same time.
void Multiplexer::set(TimerEvent* t) {
  t->sequence_ = ++timer_sequence_;
  if (t->queue_ == TimerEvent::kHeap) {
    const size_t i = t->heap_index_;
    timers_[i].expiry = t->expiry_;
    if (i > 0 && earlier(timers_[i], timers_[(i - 1) / 4]))
      heap_up(i);
    else
      heap_down(i);
    return;
  }
  if (t->queue_ != TimerEvent::kNone) unqueue(t);
  t->queue_ = TimerEvent::kHeap;
  if (stand_in.queue_ == TimerEvent::kHeap) {
    stand_in.queue_ = TimerEvent::kNone;
    const size_t i = stand_in.heap_index_;
    heap_place(TimerSlot{t->expiry_, t}, i);
    if (i > 0 && earlier(timers_[i], timers_[(i - 1) / 4]))
      heap_up(i);
    else
      heap_down(i);
    return;
  }
  timers_.push_back(TimerSlot{t->expiry_, t});
  heap_up(timers_.size() - 1);
}

// The list stays in the heap's order while each timer is due no earlier
// than the one set before it; otherwise the heap takes it.
void Multiplexer::set_due(TimerEvent* t) {
  if (t->queue_ != TimerEvent::kNone) unqueue(t);
  if (due_tail_ && static_cast<int32_t>(t->expiry_ - due_tail_->expiry_) < 0) {
    set(t);
    return;
  }
  t->sequence_ = ++timer_sequence_;
  t->queue_ = TimerEvent::kDue;
  t->due_prev_ = due_tail_;
  t->due_next_ = nullptr;
  (due_tail_ ? due_tail_->due_next_ : due_head_) = t;
  due_tail_ = t;
  ++due_count_;
}

void Multiplexer::reset(TimerEvent* t) {
  if (t->queue_ != TimerEvent::kNone) unqueue(t);
}

void Multiplexer::attach(Dpc* d) {
  auto pos = std::lower_bound(dpcs_.begin(), dpcs_.end(), d, std::less<Dpc*>());
  if (pos == dpcs_.end() || *pos != d) dpcs_.insert(pos, d);
}

void Multiplexer::dettach(Dpc* d) {
  dpcs_.remove(d);
  // A run under way skips it.
  std::replace(dpc_run_.begin(), dpc_run_.end(), d, static_cast<Dpc*>(nullptr));
}

void Multiplexer::hook(TimerPoolPlugin* p) { plugins_.push_back(p); }

void Multiplexer::unhook(TimerPoolPlugin* p) {
  if (poll_guard_)
    poll_guard_->removeTimerPoolPlugin(p);
  else
    plugins_.remove(p);
}

void Multiplexer::begin_pass() {
  Mux::begin_pass(Mux::milliseconds());
  pass_mark_ = Mux::statistics_microseconds();
}

// The pass's reading is taken again once the statistics clock has moved on
// a tick since, so that a handler, timer or Dpc that ran long does not make
// the timers set after it fire early.
void Multiplexer::check_pass(const Measure& m) {
  if (Mux::in_pass() && !Mux::cached() && m.ended() != pass_mark_) begin_pass();
}

void Multiplexer::execute_dpc() {
  // The run's own copy, in storage kept from run to run: it runs twice a pass.
  dpc_run_.assign(dpcs_.begin(), dpcs_.end());
  dpc_next_ = 0;
  while (dpc_next_ < dpc_run_.size()) {
    Dpc* d = dpc_run_[dpc_next_++];
    if (d == nullptr) continue;
    dpc_measure_.begin();
    d->Invoke();
    dpc_measure_.end();
    check_pass(dpc_measure_);
  }
}

int Multiplexer::timers_schedule() {
  const uint32_t now = Mux::pass_milliseconds();
  // On the pass's frozen reading, a timer set again from its own callback
  // with no delay would be due for ever: what is set meanwhile waits for
  // the next pass.
  const uint64_t last = Mux::cached() ? UINT64_MAX : timer_sequence_;
  // Left in the heap when a callback threw.
  if (stand_in.queue_ != TimerEvent::kNone) unqueue(&stand_in);
  for (;;) {
    TimerEvent* head = next_timer();
    if (!head || static_cast<int32_t>(now - head->expiry_) < 0 || head->sequence_ > last) break;
    if (head->queue_ == TimerEvent::kHeap) {
      stand_in.expiry_ = head->expiry_;
      stand_in.sequence_ = head->sequence_;
      stand_in.queue_ = TimerEvent::kHeap;
      heap_place(TimerSlot{head->expiry_, &stand_in}, 0);
      head->queue_ = TimerEvent::kNone;
    } else {
      unqueue(head);
    }
    timer_measure_.begin();
    head->fire();
    if (stand_in.queue_ != TimerEvent::kNone) unqueue(&stand_in);
    timer_measure_.end();
    check_pass(timer_measure_);
  }
  execute_dpc();
  for (;;) {
    TimerEvent* head = next_timer();
    const uint32_t first = head ? head->expiry_ : now;
    const int32_t wait = static_cast<int32_t>(first - now);
    if (wait >= 0 && wait <= kMaxWait) return wait;
    std::cerr << "******** RUNTIME ERROR CONDITION *************"
              << "Multiplexer::timers_schedule() invalid wait time detected!\n"
              << "now = " << now << "\nfirst = " << first << "\ncount = " << timer_count() << std::endl;
    // Only the offending timer moves; the others keep their expiries.
    head->expiry_ = now + 1000;
    set(head);
  }
}

int Multiplexer::timerPoll_schedule() {
  TimerPollGuard guard(*this, plugins_);
  return guard.schedule();
}

void Multiplexer::build_poll_set() {
  // Left over when a handler threw out of the last dispatch.
  if (served_->count() != 0) {
    while (EventHandler* h = active_->remove_from_head()) {
      served_->push_back(h);
      h->mux_list_ = served_;
    }
    std::swap(served_, active_);
  }
  while (EventHandler* h = attach_.remove_from_head()) {
    active_->push_back(h);
    h->mux_list_ = active_;
  }
  const size_t n = active_->count();
  if (poll_set_.size() != n) {
    poll_set_.resize(n);
    poll_owners_.resize(n);
  }
  size_t i = 0;
  for (auto it = active_->begin(); it != active_->end(); ++it, ++i) {
    EventHandler* h = *it;
    poll_set_[i].revents = 0;
    h->shedule_event(poll_set_[i]);
    poll_owners_[i] = h;
    h->poll_index_ = static_cast<int>(i);
  }
  live_entries_ = static_cast<unsigned>(n);
}

// Taken after the Dpc run that precedes the poll, so that a timer armed there
// counts. Only an empty timer queue waits for ever.
int Multiplexer::poll_timeout(int plugin_wait) const {
  int timeout = -1;
  if (const TimerEvent* head = first_timer()) {
    const int32_t wait = static_cast<int32_t>(head->expiry_ - Mux::pass_milliseconds());
    // Out of range goes back to timers_schedule() at once, which reports it.
    timeout = (wait < 0 || wait > kMaxWait) ? 0 : wait;
  }
  if (plugin_wait >= 0 && plugin_wait < kForever) timeout = timeout < 0 ? plugin_wait : std::min(timeout, plugin_wait);
  // A handler attached by the Dpc run is polled from the next pass on.
  if (attach_.count() != 0) timeout = 0;
  return timeout;
}

void Multiplexer::dispatch() {
  for (size_t i = 0; i < poll_owners_.size(); ++i)
    if (EventHandler* h = poll_owners_[i]) h->revents_ = poll_set_[i].revents;
  // One clock reading ends a handler's interval and begins the next one's:
  // every handler is served on every pass, so the readings add up.
  uint32_t now = Mux::statistics_microseconds();
  while (!terminating()) {
    EventHandler* h = active_->remove_from_head();
    if (!h) break;
    served_->push_back(h);
    h->mux_list_ = served_;
    event_measure_.begin(now);
    h->svc_event();
    now = Mux::statistics_microseconds();
    event_measure_.end(now);
    check_pass(event_measure_);
  }
  // When the loop stops half way, the handlers not yet served stay in the
  // rotation behind the served ones.
  while (EventHandler* h = active_->remove_from_head()) {
    served_->push_back(h);
    h->mux_list_ = served_;
  }
  std::swap(served_, active_);
}

void Multiplexer::open_watchdog() {
  // A lost watchdog is tried again at every ping: its failure is said once.
  const bool quiet = watchdog_retrying_;
  watchdog_retrying_ = watchdog_lost_;
  const int flags = O_WRONLY | O_CLOEXEC;
  watchdog_ = watchdog_open_ ? watchdog_open_(watchdog_path_.c_str(), flags) : ::open(watchdog_path_.c_str(), flags);
  if (watchdog_ < 0) {
    Errno e;
    if (!quiet) LOG_LIMITED(std::cerr) << "Mux: fail to open watchdog: " << e << std::endl;
    return;
  }
  if (::write(watchdog_, "START", 5) != 5) {
    Errno e;
    if (!quiet) LOG_LIMITED(std::cerr) << "Mux: fail to activate watchdog: " << e << std::endl;
    ::close(watchdog_);
    watchdog_ = -1;
    return;
  }
  watchdog_lost_ = watchdog_retrying_ = false;
}

void Multiplexer::close_watchdog() {
  watchdog_lost_ = watchdog_retrying_ = false;
  if (watchdog_ < 0) return;
  if (::write(watchdog_, "STOP", 4) != 4) {
    Errno e;
    std::cerr << "Mux: stop watchdog failed: " << e << std::endl;
  }
  ::close(watchdog_);
  watchdog_ = -1;
}

void Multiplexer::resetWD() {
  // One that hung up is opened again by the next ping, as the board's other
  // devices are by their next request.
  if (watchdog_ < 0 && watchdog_lost_) open_watchdog();
  if (watchdog_ < 0) return;
  if (::write(watchdog_, "PING", 4) == 4) return;
  Errno e;
  LOG_LIMITED(std::cerr) << "Mux: ping watchdog failed: " << e << std::endl;
  if (!HungUp(watchdog_)) return;
  ::close(watchdog_);
  watchdog_ = -1;
  watchdog_lost_ = true;
}

void Multiplexer::run(bool watchdog, bool live_clock) {
  stop_.store(false, std::memory_order_relaxed);
  uint32_t last_ping = 0;
  if (watchdog) open_watchdog();
  if (!live_clock) Mux::mux_settimeofday();
  // One clock reading per pass, taken when poll returns: the handlers, the
  // timers they set, the next pass's timers and its poll timeout all count
  // from it. Work done since then shows as lateness of a millisecond or so.
  struct PassEnd {
    ~PassEnd() { Mux::end_pass(); }
  } pass_end;
  begin_pass();
  while (!terminating()) {
    timers_schedule();
    const int plugin_wait = timerPoll_schedule();
    build_poll_set();
    execute_dpc();
    int timeout = poll_timeout(plugin_wait);
    // Stopped by a timer or a Dpc: no reason to wait.
    if (terminating()) timeout = 0;
    if (timeout < 0 && live_entries_ == 0) {
      std::cerr << "multiplexer: system hang detected!!!" << std::endl;
      abort();
    }
    if ((watchdog_ >= 0 || watchdog_lost_) && (timeout < 0 || timeout > 1000)) timeout = 1000;
    if (pass_end_) pass_end_();
    const int n = ::poll(poll_set_.data(), poll_set_.size(), timeout);
    const int err = errno;
    if (!live_clock) Mux::mux_settimeofday();
    begin_pass();
    const uint32_t now = Mux::pass_milliseconds();
    if (last_ping == 0 || last_ping > now || now - last_ping > 999) {
      last_ping = now;
      resetWD();
    }
    if (n == 0) continue;
    if (n < 0) {
      if (err == EINTR) continue;
      std::cerr << "multiplexer poll failed: " << strerror(err) << std::endl;
      abort();
    }
    dispatch();
  }
  std::clog << "Mux: terminating..." << std::endl;
  close_watchdog();
}

void Multiplexer::dump(std::ostream& out) const {
  out << "dpc transition measurement (min/max/cur/counter): " << dpc_measure_ << '\n';
  out << "event transition measurement (min/max/cur/counter): " << event_measure_ << '\n';
  out << "timer transition measurement (min/max/cur/counter): " << timer_measure_ << '\n';
  Profile::dump(out);
  ext::Table table;
  for (int w : {40, 30, 10, 10, 5, 60}) table.add(w);
  out << table << ext::delimeter;
  out << table << ext::beginrow << "name" << ext::nextrow << "events" << ext::nextrow << "count" << ext::nextrow
      << "handler" << ext::nextrow << "fd" << ext::nextrow << "measure" << ext::nextrow << ext::delimeter;
  for (auto it = active_->begin(); it != active_->end(); ++it) {
    const EventHandler* h = *it;
    const Event* e = h->is_named() ? dynamic_cast<const Event*>(h) : nullptr;
    if (!e) continue;
    out << table << ext::beginrow << e->event_name() << ext::nextrow << PollEventAsText(e->events()) << ext::nextrow
        << static_cast<unsigned>(e->hits()) << ext::nextrow << (e->is_bound() ? "attached" : "unattached")
        << ext::nextrow << e->lowlevel_fd() << ext::nextrow << e->measure() << ext::nextrow;
  }
  out << table << ext::delimeter;
  out << '\n';
}
