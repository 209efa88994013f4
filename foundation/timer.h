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
    if (queued_) multiplexer.reset(this);
  }

  // Signed distance of the expiries: negative when this one is due first.
  int32_t compare(const TimerEvent& other) const { return static_cast<int32_t>(expiry_ - other.expiry_); }
  int32_t compare(const TimerEvent* other) const { return compare(*other); }

  uint32_t expiry() const { return expiry_; }
  bool is_queued() const { return queued_; }

private:
  friend class Multiplexer;
  Fire fire_;
  uint32_t expiry_ = 0;
  // Place in the loop's timer heap.
  uint32_t heap_index_ = 0;
  // The order of setting, which ranks equal expiries.
  uint64_t sequence_ = 0;
  bool queued_ = false;
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
  Timer() : TimerEvent(&Timer::fire_bound) {}
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
    bind(&call_one<T>, obj, member);
    schedule(ms);
  }
  // The member gets the firing Timer.
  template <class T>
  void set(unsigned int ms, typename TimerMember<T>::Two member, T* obj) {
    bind(&call_two<T>, obj, member);
    schedule(ms);
  }
  // Calls a plain function.
  void set(unsigned int ms, void (*fn)()) {
    bind(&call_plain, nullptr, fn);
    schedule(ms);
  }

private:
  // Room for any pointer to member function (two words in this ABI).
  struct Callee {
    alignas(void*) unsigned char bytes[2 * sizeof(void*)];
  };
  typedef void (*Call)(Timer*, void*, const Callee&);

  template <class F>
  void bind(Call call, void* obj, F f) {
    static_assert(sizeof(F) <= sizeof(Callee) && std::is_trivially_copyable<F>::value, "callee does not fit");
    call_ = call;
    obj_ = obj;
    std::memcpy(callee_.bytes, &f, sizeof(F));
  }
  template <class F>
  static F callee(const Callee& c) {
    F f;
    std::memcpy(&f, c.bytes, sizeof(F));
    return f;
  }

  template <class T>
  static void call_one(Timer*, void* obj, const Callee& c) {
    (static_cast<T*>(obj)->*callee<typename TimerMember<T>::One>(c))();
  }
  template <class T>
  static void call_two(Timer* t, void* obj, const Callee& c) {
    (static_cast<T*>(obj)->*callee<typename TimerMember<T>::Two>(c))(t);
  }
  static void call_plain(Timer*, void*, const Callee& c);

  // The loop has already taken the event out of its queue, so the Timer is
  // idle here; the client is called with copies of what it bound.
  static void fire_bound(TimerEvent* e);

  Call call_ = nullptr;
  void* obj_ = nullptr;
  Callee callee_;
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
