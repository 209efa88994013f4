#include "foundation/timer.h"

#include "foundation/mux_time.h"

void TimerEvent::schedule(unsigned int ms) {
  expiry_ = Mux::pass_milliseconds() + ms;
  if (ms == 0)
    multiplexer.set_due(this);
  else
    multiplexer.set(this);
}

void Timer::fire_plain(TimerEvent* e) {
  if (void (*fn)() = static_cast<Timer*>(e)->callee<void (*)()>()) fn();
}
