#pragma once
// One-shot millisecond timers. A Timer carries its one pending event inside
// itself, so setting, resetting and firing it allocate nothing. A firing
// Timer lets go of its pending state before it calls the client, so the
// client may re-arm, reset or destroy the Timer from its callback; after the
// call nothing of the Timer is touched.
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "foundation/multiplexer.h"

class Timer;

// What the loop queues: an expiry and the function that fires it. The loop
// has taken the event out of its queue before it fires it.
class TimerEvent {
public:
  typedef void (*Fire)(TimerEvent*);

  explicit TimerEvent(Fire fire) : fire_(fire) {}
  TimerEvent(const TimerEvent&) = delete;
  TimerEvent& operator=(const TimerEvent&) = delete;
  // A destroyed event never fires.
  ~TimerEvent() { reset(); }

  void fire() { fire_(this); }

  // Due ms milliseconds from now; re-queues an event already queued.
  void schedule(unsigned int ms);
  void reset() {
    if (queue_ != kNone) multiplexer.reset(this);
  }

  // Signed distance of the expiries: negative when this one is due first.
  int32_t compare(const TimerEvent& other) const { return static_cast<int32_t>(expiry_ - other.expiry_); }
  int32_t compare(const TimerEvent* other) const { return compare(*other); }

  uint32_t expiry() const { return expiry_; }
  bool is_queued() const { return queue_ != kNone; }

protected:
  // What firing calls; a Timer changes it with what it is set to call.
  Fire fire_;

private:
  friend class Multiplexer;
  enum Queue : uint8_t { kNone, kHeap, kDue };
  uint32_t expiry_ = 0;
  // Place in the loop's timer heap.
  uint32_t heap_index_ = 0;
  Queue queue_ = kNone;
  // The order of setting, which ranks equal expiries.
  uint64_t sequence_ = 0;
  // Links in the loop's list of timers set due at once.
  TimerEvent* due_prev_ = nullptr;
  TimerEvent* due_next_ = nullptr;
};

// The client's member: T is taken from the object alone, so the member may
// belong to a base of it.
template <class T>
struct TimerMember {
  typedef void (T::*One)();
  typedef void (T::*Two)(Timer*);
};

class Timer : private TimerEvent {
public:
  Timer() : TimerEvent(&Timer::fire_plain) {}
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // Cancels the pending event.
  void reset() { TimerEvent::reset(); }
  bool is_running() const { return is_queued(); }
  // The pending event, for its expiry; null when idle.
  const TimerEvent* pending() const { return is_queued() ? static_cast<const TimerEvent*>(this) : nullptr; }

  // Calls obj's member ms milliseconds from now. Setting a running Timer
  // restarts it.
  template <class T>
  void set(unsigned int ms, typename TimerMember<T>::One member, T* obj) {
    bind(&fire_one<T>, obj, member);
    schedule(ms);
  }
  // The member gets the firing Timer.
  template <class T>
  void set(unsigned int ms, typename TimerMember<T>::Two member, T* obj) {
    bind(&fire_two<T>, obj, member);
    schedule(ms);
  }
  // Calls a plain function.
  void set(unsigned int ms, void (*fn)()) {
    bind(&fire_plain, nullptr, fn);
    schedule(ms);
  }

private:
  // Room for any pointer to member function (two words in this ABI).
  struct Callee {
    alignas(void*) unsigned char bytes[2 * sizeof(void*)];
  };

  template <class F>
  void bind(Fire fire, void* obj, F f) {
    static_assert(sizeof(F) <= sizeof(Callee) && std::is_trivially_copyable<F>::value, "callee does not fit");
    fire_ = fire;
    obj_ = obj;
    std::memcpy(callee_.bytes, &f, sizeof(F));
  }
  template <class F>
  F callee() const {
    F f;
    std::memcpy(&f, callee_.bytes, sizeof(F));
    return f;
  }

  // The loop has already taken the event out of its queue, so the Timer is
  // idle here. What the client bound is read before the call: the client
  // may set or destroy the Timer.
  template <class T>
  static void fire_one(TimerEvent* e) {
    const Timer* t = static_cast<Timer*>(e);
    (static_cast<T*>(t->obj_)->*t->callee<typename TimerMember<T>::One>())();
  }
  template <class T>
  static void fire_two(TimerEvent* e) {
    Timer* t = static_cast<Timer*>(e);
    (static_cast<T*>(t->obj_)->*t->callee<typename TimerMember<T>::Two>())(t);
  }
  static void fire_plain(TimerEvent* e);

  void* obj_ = nullptr;
  Callee callee_{};
};

// A constant timer description: the member to call and the delay.
template <class T>
struct TimerSpec {
  void (T::*member)();
  unsigned int delay;

  // A Timer fixed to one TimerSpec object.
  template <const TimerSpec<T>& Spec>
  class SpecTimer : public Timer {
  public:
    using Timer::set;
    void set(T* obj) { Timer::set<T>(Spec.delay, Spec.member, obj); }
  };
};
