#pragma once
// One-shot millisecond timers. A Timer owns at most one pending TimerEvent;
// a firing event lets go of its Timer before it calls the client, so the
// client may re-arm, reset or destroy the Timer from its callback.
#include <cstdint>
#include <memory>

#include "foundation/lists.h"
#include "foundation/multiplexer.h"

class TimerEvent : public F_dual_list_item<TimerEvent> {
public:
  TimerEvent() = default;
  TimerEvent(const TimerEvent&) = delete;
  TimerEvent& operator=(const TimerEvent&) = delete;
  // A destroyed event never fires.
  virtual ~TimerEvent();
  virtual void fire() = 0;

  // Due ms milliseconds from now; re-queues an event already queued.
  void schedule(unsigned int ms);
  void reset();

  // Signed distance of the expiries: negative when this one is due first.
  int32_t compare(const TimerEvent& other) const { return static_cast<int32_t>(expiry_ - other.expiry_); }
  int32_t compare(const TimerEvent* other) const { return compare(*other); }

  uint32_t expiry() const { return expiry_; }
  bool is_queued() const { return queued_; }

private:
  friend class Multiplexer;
  uint32_t expiry_ = 0;
  bool queued_ = false;
  // Place in the loop's timer heap, and the order of setting, which ranks
  // equal expiries.
  uint32_t heap_index_ = 0;
  uint64_t sequence_ = 0;
};

template <class T>
class ObjTimerEvent1;
template <class T>
class ObjTimerEvent2;

class Timer {
public:
  Timer() = default;
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  ~Timer() = default;

  // Cancels the pending event.
  void reset() { event_.reset(); }
  // Lets go of the pending event without cancelling it.
  TimerEvent* Unbind() { return event_.release(); }
  bool is_running() const { return event_ != nullptr; }
  const TimerEvent* pending() const { return event_.get(); }

  // Makes e the pending event; the one held before is cancelled after e is
  // in place.
  void Bind(TimerEvent* e);

  // The client's member must belong to the class of obj or a base of it.
  template <class T>
  void set(unsigned int ms, typename ObjTimerEvent1<T>::Member member, T* obj);
  template <class T>
  void set(unsigned int ms, typename ObjTimerEvent2<T>::Member member, T* obj);

private:
  std::unique_ptr<TimerEvent> event_;
};

// Firing: let go of the owning Timer, call the client, delete itself. After
// the call nothing but the event itself is touched.
template <class T>
class ObjTimerEvent1 : public TimerEvent {
public:
  typedef void (T::*Member)();
  ObjTimerEvent1(Timer* owner, Member member, T* obj, unsigned int ms) : owner_(owner), member_(member), obj_(obj) {
    schedule(ms);
  }
  void fire() override {
    std::unique_ptr<TimerEvent> self(this);
    if (owner_->pending() == this) owner_->Unbind();
    (obj_->*member_)();
  }

private:
  Timer* owner_;
  Member member_;
  T* obj_;
};

template <class T>
class ObjTimerEvent2 : public TimerEvent {
public:
  typedef void (T::*Member)(Timer*);
  ObjTimerEvent2(Timer* owner, Member member, T* obj, unsigned int ms) : owner_(owner), member_(member), obj_(obj) {
    schedule(ms);
  }
  void fire() override {
    std::unique_ptr<TimerEvent> self(this);
    Timer* owner = owner_;
    if (owner->pending() == this) owner->Unbind();
    (obj_->*member_)(owner);
  }

private:
  Timer* owner_;
  Member member_;
  T* obj_;
};

// Calls a plain function; fires like the member adapters.
class SimpleTimerEvent1 : public TimerEvent {
public:
  SimpleTimerEvent1(Timer* owner, void (*fn)(), unsigned int ms) : owner_(owner), fn_(fn) { schedule(ms); }
  void fire() override;

private:
  Timer* owner_;
  void (*fn_)();
};

template <class T>
void Timer::set(unsigned int ms, typename ObjTimerEvent1<T>::Member member, T* obj) {
  Bind(new ObjTimerEvent1<T>(this, member, obj, ms));
}

template <class T>
void Timer::set(unsigned int ms, typename ObjTimerEvent2<T>::Member member, T* obj) {
  Bind(new ObjTimerEvent2<T>(this, member, obj, ms));
}

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
