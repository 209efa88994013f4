#pragma once
// The single-threaded poll loop with which every descriptor event, timer and
// deferred call registers. It stores pointers only: every registered object
// deregisters itself before it dies.
#include <poll.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/lists.h"
#include "foundation/measure.h"

class TimerEvent;
class Dpc;
class Multiplexer;

// Names of the set poll bits joined by "|".
std::string PollEventAsText(short events);

// Something the loop polls. It is in at most one of the loop's handler lists.
class EventHandler : public F_dual_list_item<EventHandler> {
public:
  EventHandler() = default;
  EventHandler(const EventHandler&) = delete;
  EventHandler& operator=(const EventHandler&) = delete;
  // Detaches a handler that is still registered: a dangling pointer in the
  // loop would be fatal.
  virtual ~EventHandler();

  virtual void shedule_event(pollfd& entry) = 0;
  virtual void svc_event(short revents) = 0;
  virtual std::string event_name() const;
  virtual bool is_named() const;

  void mux_attach();
  void mux_detach();
  // Serves the handler with the result of the latest poll.
  void svc_event() { svc_event(revents_); }

  bool is_attached() const { return attached_; }
  short poll_result() const { return revents_; }

private:
  friend class Multiplexer;
  bool attached_ = false;
  short revents_ = 0;
  // Which of the loop's lists holds the handler, and its poll entry.
  F_dual_list<EventHandler>* mux_list_ = nullptr;
  int poll_index_ = -1;
};

// A source of deadlines besides the timer queue.
class TimerPoolPlugin {
public:
  TimerPoolPlugin() = default;
  TimerPoolPlugin(const TimerPoolPlugin&) = delete;
  TimerPoolPlugin& operator=(const TimerPoolPlugin&) = delete;
  virtual ~TimerPoolPlugin() { timerUnhook(); }
  // Milliseconds until due; negative when nothing is due.
  virtual int32_t next_timeout() = 0;

  void timerHook();
  void timerUnhook();
  bool is_hooked() const { return hooked_; }

private:
  bool hooked_ = false;
};

class Multiplexer {
public:
  class TimerPollNotify {
  public:
    TimerPollNotify() {}
    virtual ~TimerPollNotify() {}
    virtual void removeTimerPoolPlugin(TimerPoolPlugin* plugin) = 0;
  };

  // Keeps the global multiplexer alive from before the first static object
  // of any unit that includes this header until after the last one is gone.
  struct Init {
    Init();
    ~Init();
  };

  // The longest wait a timer may ask for.
  static constexpr int32_t kMaxWait = 7200000;

  Multiplexer();
  ~Multiplexer();
  Multiplexer(const Multiplexer&) = delete;
  Multiplexer& operator=(const Multiplexer&) = delete;

  void attach(EventHandler* h);
  void detach(EventHandler* h);
  bool event_exists(EventHandler* h) const;

  void set(TimerEvent* t);
  // set() of a timer due at once, for which a list that keeps such timers
  // in the order set costs less than the heap.
  void set_due(TimerEvent* t);
  void reset(TimerEvent* t);

  void attach(Dpc* d);
  void dettach(Dpc* d);

  void hook(TimerPoolPlugin* p);
  void unhook(TimerPoolPlugin* p);

  void run(bool watchdog, bool live_clock);
  void terminate() { stop_.store(true, std::memory_order_relaxed); }
  bool terminating() const { return stop_.load(std::memory_order_relaxed); }
  void resetWD();
  void dump(std::ostream& out) const;

  int timers_schedule();
  int timerPoll_schedule();
  void execute_dpc();

  // Opens a device: a descriptor, or -1 with errno set.
  using DeviceOpen = int (*)(const char* path, int flags);

  // The watchdog device; relocatable so that tests can read back what the
  // loop wrote.
  void set_watchdog_path(const std::string& path) { watchdog_path_ = path; }
  // The watchdog is a board device: the daemon opens it by its board name
  // through the board's own open, which lives above this loop.
  void set_watchdog_device(DeviceOpen open, const std::string& path) {
    watchdog_open_ = open;
    watchdog_path_ = path;
  }
  const std::string& watchdog_path() const { return watchdog_path_; }
  // Called at the end of every pass, just before the loop waits in poll.
  void set_pass_end(void (*hook)()) { pass_end_ = hook; }
  bool watchdog_open() const { return watchdog_ >= 0; }

  unsigned timer_count() const;
  unsigned handler_count() const { return attach_.count() + served_->count() + active_->count(); }
  size_t dpc_count() const { return dpcs_.size(); }
  const TimerEvent* first_timer() const { return next_timer(); }
  const Measure& dpc_measure() const { return dpc_measure_; }
  const Measure& event_measure() const { return event_measure_; }
  const Measure& timer_measure() const { return timer_measure_; }

private:
  class TimerPollGuard;

  void unlink_handler(EventHandler* h);
  void build_poll_set();
  int poll_timeout(int plugin_wait) const;
  void dispatch();
  void open_watchdog();
  void begin_pass();
  void check_pass(const Measure& m);
  void close_watchdog();

  // 4-ary min-heap on (expiry, setting order): set, reset and fire cost
  // O(log n) whatever the number of timers. A slot carries the expiry, so
  // that only ties between equal expiries look into the events.
  struct TimerSlot {
    uint32_t expiry;
    TimerEvent* event;
  };
  static bool earlier(const TimerSlot& a, const TimerSlot& b);
  size_t earliest_child(size_t first, size_t end) const;
  void heap_place(const TimerSlot& s, size_t i);
  void heap_up(size_t i);
  void heap_down(size_t i);
  void heap_remove(TimerEvent* t);
  TimerEvent* heap_pop_front();
  TimerEvent* next_timer() const;
  void unqueue(TimerEvent* t);

  std::vector<TimerSlot> timers_;
  // Timers set due at once, in setting order and so in the heap's order:
  // a list costs less than the heap's climb to the top and back.
  TimerEvent* due_head_ = nullptr;
  TimerEvent* due_tail_ = nullptr;
  unsigned due_count_ = 0;
  uint64_t timer_sequence_ = 0;
  // The statistics clock when the pass's reading was taken.
  uint32_t pass_mark_ = 0;
  F_dual_list<EventHandler> attach_;
  // The served and active lists trade places after every dispatch.
  F_dual_list<EventHandler> lists_[2];
  F_dual_list<EventHandler>* served_ = &lists_[0];
  F_dual_list<EventHandler>* active_ = &lists_[1];
  std::vector<pollfd> poll_set_;
  // The handler each poll entry was built from; cleared when it detaches.
  std::vector<EventHandler*> poll_owners_;
  unsigned live_entries_ = 0;
  std::list<Dpc*> dpcs_;
  std::vector<Dpc*> dpc_run_;
  size_t dpc_next_ = 0;
  std::atomic<bool> stop_{false};
  Measure dpc_measure_;
  Measure event_measure_;
  Measure timer_measure_;
  std::list<TimerPoolPlugin*> plugins_;
  TimerPollNotify* poll_guard_ = nullptr;
  int watchdog_ = -1;
  // It hung up: the next ping opens it again.
  bool watchdog_lost_ = false;
  // Opening it again failed and was said.
  bool watchdog_retrying_ = false;
  std::string watchdog_path_;
  DeviceOpen watchdog_open_ = nullptr;
  void (*pass_end_)() = nullptr;
};

extern Multiplexer& multiplexer;

static Multiplexer::Init multiplexerInit;
