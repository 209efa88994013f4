#include "foundation/timer.h"

#include "foundation/mux_time.h"

TimerEvent::~TimerEvent() { reset(); }

void TimerEvent::schedule(unsigned int ms) {
  expiry_ = Mux::pass_milliseconds() + ms;
  multiplexer.set(this);
}

void TimerEvent::reset() {
  if (queued_) multiplexer.reset(this);
}

void Timer::Bind(TimerEvent* e) {
  if (e == event_.get()) return;
  std::unique_ptr<TimerEvent> old(std::move(event_));
  event_.reset(e);
}

void SimpleTimerEvent1::fire() {
  std::unique_ptr<TimerEvent> self(this);
  if (owner_->pending() == this) owner_->Unbind();
  fn_();
}
