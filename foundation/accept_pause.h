#pragma once
// An accept that fails for want of descriptors (EMFILE, ENFILE) leaves the
// connection pending and the listening socket readable: polled again at once,
// it would spin the main loop. The listener's event stops polling for a while
// instead, and the connection is taken when descriptors are free again.
#include <errno.h>
#include <poll.h>

#include "foundation/event.h"
#include "foundation/timer.h"

class AcceptPause {
public:
  AcceptPause(Event& listener, unsigned ms) : listener_(listener), ms_(ms) {}
  AcceptPause(const AcceptPause&) = delete;
  AcceptPause& operator=(const AcceptPause&) = delete;

  // True when err is a want of descriptors: the listener then rests for the
  // pause. Any other failure is the caller's.
  bool Pause(int err) {
    if (err != EMFILE && err != ENFILE) return false;
    listener_.SetEvents(0);
    timer_.set<AcceptPause>(ms_, &AcceptPause::Resume, this);
    return true;
  }
  void Cancel() { timer_.reset(); }

private:
  void Resume() { listener_.SetEvents(POLLIN); }

  Event& listener_;
  const unsigned ms_;
  Timer timer_;
};
