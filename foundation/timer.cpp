#include "foundation/timer.h"

#include "foundation/mux_time.h"

void TimerEvent::schedule(unsigned int ms) {
  expiry_ = Mux::pass_milliseconds() + ms;
  multiplexer.set(this);
}

void Timer::call_plain(Timer*, void*, const Callee& c) { callee<void (*)()>(c)(); }

void Timer::fire_bound(TimerEvent* e) {
  Timer* t = static_cast<Timer*>(e);
  const Call call = t->call_;
  void* const obj = t->obj_;
  const Callee callee = t->callee_;
  call(t, obj, callee);
}
